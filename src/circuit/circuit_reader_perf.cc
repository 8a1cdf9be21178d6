// Speed of Circuit::try_parse: MB/s on a 10 MB text of ordinary instructions, and expanded
// instructions per second on a small text whose REPEAT blocks expand to 10^7 instructions,
// each beside a baseline in the same run (a scan of the text for line feeds; a plain copy of a
// vector holding the same expanded instructions). Best of five runs each.
// Build: cmake -S . -B build-perf -DCMAKE_BUILD_TYPE=Release -DVELKOR_BUILD_PERF=ON
// Run:   build-perf/velkor_perf_circuit_reader
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "circuit/circuit.h"

namespace {

struct Seconds {
  double wall = 1e300;
  double cpu = 1e300;  // of this process, kernel time included: less disturbed by other load
};

double cpu_now() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Best times of five calls of `make`; what it returns is freed outside the timing.
template <class F>
Seconds best_seconds(F&& make) {
  Seconds best;
  for (int k = 0; k < 5; ++k) {
    auto wall = std::chrono::steady_clock::now();
    double cpu = cpu_now();
    [[maybe_unused]] auto made = make();
    best.cpu = std::min(best.cpu, cpu_now() - cpu);
    best.wall = std::min(
        best.wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count());
  }
  return best;
}

// One round of a noisy stabiliser-measurement layer on qubits [base, base + 8).
void append_round(std::string& text, size_t base) {
  auto q = [&](size_t k) { return std::to_string(base + k); };
  text += "R " + q(0) + " " + q(1) + " " + q(2) + "\n";
  text += "CX " + q(0) + " " + q(3) + " " + q(1) + " " + q(4) + "\n";
  text += "DEPOLARIZE2(0.001) " + q(0) + " " + q(3) + " " + q(1) + " " + q(4) + "\n";
  text += "CZ " + q(2) + " " + q(5) + "\n";
  text += "X_ERROR(0.01) " + q(0) + " " + q(1) + " " + q(2) + "\n";
  text += "M(0.001) " + q(0) + " !" + q(1) + " " + q(2) + "\n";
  text += "MPP X" + q(3) + "*Z" + q(4) + " Y" + q(5) + "\n";
  text += "DETECTOR(1, 2, 0) rec[-1] rec[-4]\n";
  text += "OBSERVABLE_INCLUDE(0) rec[-2]\n";
  text += "TICK # end of round\n";
}

}  // namespace

int main() {
  using namespace velkor;
  std::string text;
  for (size_t base = 0; text.size() < 10'000'000; base = (base + 8) % 4096) {
    append_round(text, base);
  }
  size_t instructions = 0;
  Seconds read = best_seconds([&] {
    auto circuit = Circuit::try_parse(text);
    if (!circuit) std::abort();
    instructions = circuit->instructions.size();
    return circuit;
  });
  [[maybe_unused]] static volatile size_t lines = 0;
  Seconds scan = best_seconds([&] {
    size_t n = 0;
    const char* end = text.data() + text.size();
    for (const char* p = text.data(); (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
         ++p) {
      ++n;
    }
    lines = n;
    return n;
  });
  double mb = static_cast<double>(text.size()) / 1e6;
  std::printf(
      "ordinary text, %.1f MB, %zu instructions: %.1f MB/s CPU time, %.1f MB/s wall "
      "(%.0f ns/instruction CPU); baseline line-feed scan %.0f MB/s CPU\n",
      mb, instructions, mb / read.cpu, mb / read.wall,
      read.cpu * 1e9 / static_cast<double>(instructions), mb / scan.cpu);

  const std::string repeated =
      "M 0 1\n"
      "REPEAT 1000 {\n"
      "  REPEAT 1000 {\n"
      "    CX 0 1\n    CX 2 3\n    M 0\n    DETECTOR rec[-1] rec[-2]\n"
      "    DEPOLARIZE1(0.01) 0 1\n    X_ERROR(0.1) 2\n    R 0\n    TICK\n    Z 3\n    S 1\n    T "
      "2\n"
      "  }\n"
      "}\n";
  Expected<Circuit, std::string> expanded = Circuit::try_parse(repeated);
  if (!expanded) std::abort();
  double count = static_cast<double>(expanded->instructions.size());
  Seconds expand = best_seconds([&] { return Circuit::try_parse(repeated); });
  Seconds copy = best_seconds([&] { return std::vector<Instruction>(expanded->instructions); });
  std::printf(
      "REPEAT text of %zu bytes expanding to %.0f instructions: %.1f million instructions/s "
      "CPU time, %.1f million/s wall; baseline plain copy of the expanded vector %.1f million/s "
      "CPU\n",
      repeated.size(), count, count / expand.cpu / 1e6, count / expand.wall / 1e6,
      count / copy.cpu / 1e6);
}
