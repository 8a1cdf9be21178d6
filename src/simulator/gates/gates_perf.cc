// Nanoseconds per gate on states with many path variables and a dense phase polynomial.
// Build: cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_PERF=ON
// Run:   build-perf/velkor_perf_gates
#include <chrono>
#include <cstdio>

#include "simulator/gates/gates.h"

namespace {

using Clock = std::chrono::steady_clock;

template <class F>
double ns_per_call(size_t calls, F&& f) {
  auto start = Clock::now();
  for (size_t i = 0; i < calls; ++i) f(i);
  return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / calls;
}

}  // namespace

int main() {
  using namespace velkor;
  std::printf("%8s %8s %10s %10s %10s %10s\n", "qubits", "terms", "t ns", "cnot ns", "cz ns",
              "ccz ns");
  for (size_t n : {10, 100, 1000, 5000}) {
    Simulator sim = Simulator::new_with_optional_seed(1);
    for (size_t q = 0; q < n; ++q) sim.add_affine_coordinate(q, false);
    for (size_t q = 0; q + 1 < n; ++q) cnot(sim, q, q + 1);
    for (size_t q = 0; q < n; ++q) t(sim, q);
    const size_t calls = 2'000'000;
    double tn = ns_per_call(calls, [&](size_t i) { t(sim, i % n); });
    double cn = ns_per_call(calls, [&](size_t i) { cnot(sim, i % n, (i + 1) % n); });
    double zn = ns_per_call(calls, [&](size_t i) { cz(sim, i % n, (i + 7) % n); });
    double ccn =
        ns_per_call(calls / 4, [&](size_t i) { ccz(sim, i % n, (i + 3) % n, (i + 5) % n); });
    std::printf("%8zu %8zu %10.1f %10.1f %10.1f %10.1f\n", n, sim.phase().size(), tn, cn, zn, ccn);
  }
}
