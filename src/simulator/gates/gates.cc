#include "simulator/gates/gates.h"

#include <algorithm>
#include <array>

#include "base/internal_error.h"

namespace velkor {
namespace {

void gadget1(Simulator& sim, size_t q, uint8_t increment) {
  sim.ensure_num_qubits(q + 1);
  std::array<size_t, 1> qs{q};
  sim.apply_phase_gadget(qs, increment);
}

}  // namespace

void x(Simulator& sim, size_t q) {
  sim.ensure_num_qubits(q + 1);
  sim.flip_offset(q);
}

void y(Simulator& sim, size_t q) {
  x(sim, q);
  gadget1(sim, q, 4);
}

void z(Simulator& sim, size_t q) { gadget1(sim, q, 4); }
void s(Simulator& sim, size_t q) { gadget1(sim, q, 2); }
void s_dag(Simulator& sim, size_t q) { gadget1(sim, q, 6); }
void t(Simulator& sim, size_t q) { gadget1(sim, q, 1); }
void t_dag(Simulator& sim, size_t q) { gadget1(sim, q, 7); }

void cz(Simulator& sim, size_t a, size_t b) {
  check_invariant(a != b, "CZ endpoints must be distinct");
  sim.ensure_num_qubits(std::max(a, b) + 1);
  std::array<size_t, 1> qa{a}, qb{b};
  std::array<size_t, 2> qab{a, b};
  sim.apply_phase_gadget(qa, 2);
  sim.apply_phase_gadget(qb, 2);
  sim.apply_phase_gadget(qab, 6);
}

void ccz(Simulator& sim, size_t a, size_t b, size_t c) {
  check_invariant(a != b && a != c && b != c, "CCZ endpoints must be distinct");
  sim.ensure_num_qubits(std::max({a, b, c}) + 1);
  std::array<size_t, 1> qa{a}, qb{b}, qc{c};
  std::array<size_t, 2> qab{a, b}, qac{a, c}, qbc{b, c};
  std::array<size_t, 3> qabc{a, b, c};
  sim.apply_phase_gadget(qa, 1);
  sim.apply_phase_gadget(qb, 1);
  sim.apply_phase_gadget(qc, 1);
  sim.apply_phase_gadget(qab, 7);
  sim.apply_phase_gadget(qac, 7);
  sim.apply_phase_gadget(qbc, 7);
  sim.apply_phase_gadget(qabc, 1);
}

void swap(Simulator& sim, size_t a, size_t b) {
  check_invariant(a != b, "SWAP endpoints must be distinct");
  sim.ensure_num_qubits(std::max(a, b) + 1);
  if (sim.offset(a) != sim.offset(b)) {
    sim.flip_offset(a);
    sim.flip_offset(b);
  }
  sim.swap_rows(a, b);
}

}  // namespace velkor
