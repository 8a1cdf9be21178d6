// Nanoseconds per amplitude of state_vector for 20 to 24 qubits, each with its own path variable
// and a few hundred phase terms, beside a plain fill of a fresh buffer of the same size that,
// like NumPy's large arrays, is advised to use huge pages. Best of five runs each, since the
// machines these run on are shared.
// Build: cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_PERF=ON
// Run:   build-perf/velkor_perf_state_vector
#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "simulator/gates/gates.h"
#include "simulator/state_vector.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;

/// Best wall time of kRuns calls, in nanoseconds.
template <class F>
double best_ns(F&& call) {
  double best = 1e300;
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    call();
    best = std::min(best, std::chrono::duration<double, std::nano>(Clock::now() - start).count());
  }
  return best;
}

/// Allocates, advises huge pages as NumPy does for large arrays, fills and frees `size` entries.
float fill(size_t size) {
  size_t bytes = size * sizeof(std::complex<float>);
  auto* buf = static_cast<std::complex<float>*>(std::malloc(bytes));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  auto begin = (reinterpret_cast<uintptr_t>(buf) + 4095) & ~uintptr_t{4095};
  auto end = (reinterpret_cast<uintptr_t>(buf) + bytes) & ~uintptr_t{4095};
  madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
  for (size_t i = 0; i < size; ++i) buf[i] = {1.0f, 0.0f};
  float sample = buf[size / 2].real();
  std::free(buf);
  return sample;
}

}  // namespace

int main() {
  using namespace velkor;
  std::printf("%7s %6s %14s %14s %7s\n", "qubits", "terms", "ns/amplitude", "fill ns/amp", "ratio");
  for (size_t n = 20; n <= 24; ++n) {
    Simulator sim = Simulator::new_with_optional_seed(3);
    for (size_t q = 0; q < n; ++q) sim.add_affine_coordinate(q, false);
    for (size_t q = 0; q + 2 < n; ++q) ccz(sim, q, q + 1, q + 2);
    for (size_t k = 3; k < 12; ++k) {
      for (size_t q = 0; q + k < n; ++q) cz(sim, q, q + k);
    }
    for (size_t q = 0; q < n; ++q) t(sim, q);
    size_t size = size_t{1} << n;
    volatile float sink = 0;
    double ns = best_ns([&] { sink = state_vector(sim, Endian::kLittle)->data[size / 3].real(); });
    double filled = best_ns([&] { sink = fill(size); });
    (void)sink;
    std::printf("%7zu %6zu %14.2f %14.2f %7.2f\n", n, sim.phase().size(), ns / size, filled / size,
                ns / filled);
  }
}
