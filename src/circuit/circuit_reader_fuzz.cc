// Fuzzes the circuit reader: any byte string must come back as a circuit or a message, without
// crashing, hanging or reading out of bounds. Short texts are also matched by the literal
// backtracking oracle, which must agree with the real matcher on the tree or the failure.

#include <cstdint>
#include <string_view>

#include "circuit/circuit.h"
#include "circuit/expansion.h"
#include "circuit/grammar_oracle.h"
#include "circuit/parse_tree.h"
#include "circuit/statements.h"

namespace {

// Expansions beyond this take up to gigabytes before the reader's own limit refuses them.
constexpr uint64_t kMaxFuzzedExpansion = uint64_t{1} << 16;
// The oracle takes time exponential in the number of nested unclosed blocks.
constexpr size_t kMaxOracleText = 100;

void require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velkor;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  // Reading the statements must survive any bytes, valid UTF-8 or not.
  InterruptPoll poll;
  auto written = read_statements(text, poll);
  std::optional<uint64_t> expanded;
  if (written) {
    auto size = checked_expanded_size(*written);
    if (size && *size > kMaxFuzzedExpansion) return 0;
    if (size) expanded = *size;
  }
  auto circuit = Circuit::try_parse(text);
  if (circuit) {
    require(written && expanded && circuit->instructions.size() == *expanded);
  } else {
    require(!circuit.error().empty());
  }
  bool utf8 = circuit || !circuit.error().starts_with("circuit text is not valid UTF-8");
  if (utf8 && size <= kMaxOracleText) {
    auto ours = parse(text);
    auto theirs = oracle::GrammarOracle(text).parse();
    require(ours.has_value() == theirs.has_value());
    require(ours ? ours->nodes == theirs->nodes : ours.error() == theirs.error());
    require(ours.has_value() ==
            (written.has_value() || !written.error().starts_with("invalid Stim circuit:")));
  }
  return 0;
}
