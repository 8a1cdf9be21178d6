// Nanoseconds per amplitude of state_vector for 20 to 24 qubits, each with its own path variable
// and a few hundred phase terms, beside a plain fill of a buffer of the same size.
// Build: cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_PERF=ON
// Run:   build-perf/velkor_perf_state_vector
#include <chrono>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "simulator/gates/gates.h"
#include "simulator/state_vector.h"

int main() {
  using namespace velkor;
  using Clock = std::chrono::steady_clock;
  std::printf("%7s %6s %14s %14s %7s\n", "qubits", "terms", "ns/amplitude", "fill ns/amp", "ratio");
  for (size_t n = 20; n <= 24; ++n) {
    Simulator sim = Simulator::new_with_optional_seed(3);
    for (size_t q = 0; q < n; ++q) sim.add_affine_coordinate(q, false);
    for (size_t q = 0; q + 2 < n; ++q) ccz(sim, q, q + 1, q + 2);
    for (size_t k = 3; k < 12; ++k) {
      for (size_t q = 0; q + k < n; ++q) cz(sim, q, q + k);
    }
    for (size_t q = 0; q < n; ++q) t(sim, q);
    auto start = Clock::now();
    auto amps = state_vector(sim, Endian::kLittle);
    double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    size_t size = amps->size;
    start = Clock::now();
    auto* buf = static_cast<std::complex<float>*>(std::malloc(size * sizeof(std::complex<float>)));
    for (size_t i = 0; i < size; ++i) buf[i] = {1.0f, 0.0f};
    double fill = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    volatile float sink = buf[size / 2].real() + amps->data[size / 3].real();
    (void)sink;
    std::free(buf);
    std::printf("%7zu %6zu %14.2f %14.2f %7.2f\n", n, sim.phase().size(), ns / size, fill / size,
                ns / fill);
  }
}
