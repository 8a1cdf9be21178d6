// Times pauli_product_expectation and measure_x on states with many path variables and dense
// phase polynomials: every qubit X-reset (one variable each), then rounds of random CNOT mixing,
// T gates and CCZ gates (n T and n / 3 CCZ in all), so that phase keys span about half the
// variables and the flip of any qubit meets about half of the terms. Prints the time per call, its
// split into the solve of the affine map, the directional derivative and the Gauss sum, and the
// growth exponent between sizes.
//
// Usage: velkor_perf_expectation [num_vars ...]   (default 100 1000 5000)

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "simulator/expvals/directional_derivative.h"
#include "simulator/expvals/gauss_sum.h"
#include "simulator/gates/gates.h"
#include "simulator/measurements/measure_x.h"
#include "simulator/observables/pauli_product_expectation.h"
#include "simulator/state_vector.h"

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

Simulator dense_state(size_t n) {
  Simulator sim = Simulator::new_with_optional_seed(1);
  sim.ensure_num_qubits(n);
  for (size_t q = 0; q < n; ++q) reset_x_raw(sim, q);
  std::mt19937_64 gen(n);
  auto qubit = [&] { return static_cast<size_t>(gen() % n); };
  auto mix = [&] {
    size_t cnots = n * static_cast<size_t>(std::log2(static_cast<double>(n)) + 1);
    for (size_t i = 0; i < cnots; ++i) {
      size_t a = qubit(), b = qubit();
      if (a != b) cnot(sim, a, b);
    }
  };
  // Phases added between mixing rounds keep keys of older rows, so the flip of any one qubit
  // meets about half of all terms, and each key spans about half the variables.
  constexpr size_t kRounds = 10;
  for (size_t round = 0; round < kRounds; ++round) {
    mix();
    for (size_t i = 0; i < n / kRounds; ++i) t(sim, qubit());
    for (size_t i = 0; i < n / (3 * kRounds); ++i) {
      size_t a = qubit(), b = qubit(), c = qubit();
      if (a != b && a != c && b != c) ccz(sim, a, b, c);
    }
  }
  mix();
  return sim;
}

/// Runs `call` until `budget` seconds have passed (at least twice); the mean seconds per call.
template <class F>
double time_per_call(F&& call, double budget) {
  int reps = 0;
  auto start = Clock::now();
  do {
    call();
    ++reps;
  } while (reps < 2 || seconds_since(start) < budget);
  return seconds_since(start) / reps;
}

std::string shape_name(const Expected<XMeasurementPlan, MeasurementError>& plan) {
  if (!plan) {
    const std::string& m = plan.error().message;
    return "refused (" + m.substr(m.find(": ") + 2) + ")";
  }
  static const char* names[] = {"Deterministic", "NewCoordinate", "AffineSplit", "RankTwoPhase",
                                "OddPhase"};
  return names[plan->shape.index()];
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  using namespace velkor;
  std::vector<size_t> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtoull(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {100, 1000, 5000};

  // X on qubit 0 and Z on qubit 1: after the mixing both read about half the variables.
  PauliProduct product{{{0, Pauli::X}, {1, Pauli::Z}}, 2, false};
  std::printf("%8s %8s %12s %12s %12s %12s %12s  %s\n", "vars", "terms", "expval_ms", "solve_ms",
              "deriv_ms", "gauss_ms", "measure_x_ms", "measure_x result");
  double last_n = 0, last_expval = 0, last_measure = 0;
  for (size_t n : sizes) {
    Simulator sim = dense_state(n);
    double budget = n >= 5000 ? 0.0 : 1.0;
    double expval = time_per_call([&] { pauli_product_expectation(sim, product); }, budget);

    // The three stages of an expectation value, timed on their own.
    BitVec x_mask = BitVec::unit(n, 0);
    std::optional<BitVec> d;
    double solve = time_per_call([&] { d = to_basis_coordinates(sim, x_mask); }, budget);
    QuadraticPhase form;
    double deriv = time_per_call([&] { form = directional_derivative(sim, d->words()); }, budget);
    double gauss = time_per_call(
        [&] { normalized_quadratic_gauss_sum(form.constant, form.linear, form.quadratic); },
        budget);

    // measure_x on a fresh copy each time (the copy is not timed).
    double measure_total = 0;
    int measure_reps = 0;
    auto start = Clock::now();
    do {
      Simulator copy = sim;
      auto t0 = Clock::now();
      auto r = measure_x(copy, n / 2);
      measure_total += seconds_since(t0);
      ++measure_reps;
      (void)r;
    } while (measure_reps < 2 || seconds_since(start) < budget);
    double measure = measure_total / measure_reps;
    std::string result = shape_name(classify_x_measurement(sim, n / 2));

    std::printf("%8zu %8zu %12.3f %12.3f %12.3f %12.3f %12.3f  %s\n", n, sim.phase().size(),
                expval * 1e3, solve * 1e3, deriv * 1e3, gauss * 1e3, measure * 1e3, result.c_str());
    if (last_n > 0) {
      double span = std::log(static_cast<double>(n) / last_n);
      std::printf("         growth since %.0f vars: expval ~ n^%.2f, measure_x ~ n^%.2f\n", last_n,
                  std::log(expval / last_expval) / span, std::log(measure / last_measure) / span);
    }
    last_n = static_cast<double>(n);
    last_expval = expval;
    last_measure = measure;
  }
  return 0;
}
