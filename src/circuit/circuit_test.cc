#include "circuit/circuit.h"

#include <gtest/gtest.h>

namespace velkor {
namespace {

std::string error_of(std::string_view text) {
  auto circuit = Circuit::try_parse(text);
  return circuit ? "accepted" : circuit.error();
}

// One letter per instruction: X/Y/Z/S for gates by kind, M, D(etector), F(eedback), E(xpval).
std::string letters(const Circuit& circuit) {
  std::string out;
  for (const Instruction& i : circuit.instructions) {
    if (const Gate* g = std::get_if<Gate>(&i)) {
      out += "IXYZS"[std::min<size_t>(static_cast<size_t>(g->kind), 4)];
    } else {
      out += "?FMPERNDO"[i.index()];
    }
  }
  return out;
}

TEST(Circuit, ExpandsBlocksInExecutionOrder) {
  struct Case {
    std::string_view text;
    std::string_view letters;
    size_t num_qubits;
  };
  for (Case c : std::initializer_list<Case>{
           {"", "", 0},
           {"REPEAT 3 {\nX 0\nM 0\n}\nDETECTOR rec[-3]", "XMXMXMD", 1},
           {"X 0\nREPEAT 2 {\nY 1\nREPEAT 2 {\nZ 2\n}\n}\nS 3", "XYZZYZZS", 4},
           {"REPEAT 2 { X 0 } REPEAT 1 { Y 1 }\nrepeat 0 {\nZ 2\n}", "XXY", 2},
           {"REPEAT 18446744073709551615 {\n}", "", 0},
           {"REPEAT 18446744073709551615 {\nREPEAT 0 {\nX 0\n}\nTICK\n}\nY 1", "Y", 2},
           {"M 0\nCX rec[-1] 0", "MF", 1},
           {"MPP X0*Z1 Y2\nDETECTOR rec[-2]", "PD", 3},
           {"X 7", "X", 8},
           {"MPP Z3", "P", 4},
           {"EXP_VAL Y9\nM 0\nOBSERVABLE_INCLUDE(9) rec[-1]", "EMO", 10},
           {"M 0\nOBSERVABLE_INCLUDE(9) rec[-1]", "MO", 1},
           {"DEPOLARIZE2(0.1) 4 5\nTICK", "N", 6},
           {"X 18446744073709551614", "X", SIZE_MAX},
           {"REPEAT 0 {\nX 9\n}\nY 1", "Y", 2},
           {"M 0\nREPEAT 2 {\nDETECTOR rec[-1]\nM 0\n}", "MDMDM", 1},
           {"REPEAT 2 {\nREPEAT 3 {\nM 0\n}\n}\nDETECTOR rec[-6]", "MMMMMMD", 1},
       }) {
    auto circuit = Circuit::try_parse(c.text);
    ASSERT_TRUE(circuit) << c.text << ": " << circuit.error();
    EXPECT_EQ(letters(*circuit), c.letters) << c.text;
    EXPECT_EQ(circuit->num_qubits, c.num_qubits) << c.text;
  }
}

TEST(Circuit, ReportsTheFirstFaultInStepOrder) {
  const std::string record = "refers before the beginning of the measurement record";
  struct Case {
    std::string_view text;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {"H 0\n}\n",
            "invalid Stim circuit:  --> 2:1\n  |\n2 | }\n  | ^---\n  |\n"
            "  = expected EOI, repeat_block, or identifier"},
           {"H 0\nREPEAT 18446744073709551616 {\n}\n}",
            "invalid Stim circuit: " + std::string(" --> 4:1\n  |\n4 | }\n"
                                                   "  | ^---\n  |\n  = "
                                                   "expected EOI, "
                                                   "repeat_block, or "
                                                   "identifier")},
           {"H 0\nREPEAT 18446744073709551616 {\n}", "REPEAT count does not fit in usize"},
           {"REPEAT 0 {\nH 0\n}", "unsupported instruction H"},
           {"X 0\nREPEAT 2 {\nY(1) 0\n}\nH 0", "Y does not take arguments"},
           // An unclosed block reads as an instruction REPEAT; what was found inside the
           // attempt no longer counts.
           {"REPEAT 2 {\nH 0\n", "unsupported instruction REPEAT"},
           {"REPEAT 99999999999999999999 {\nX 0\n", "unsupported instruction REPEAT"},
           {"REPEAT 0 {\nM 0\n}\nDETECTOR rec[-1]", "record target rec[-1] " + record},
           {"REPEAT 2 {\nM 0\nDETECTOR rec[-2]\n}", "record target rec[-2] " + record},
           {"CX rec[-1] 0", "record target rec[-1] " + record},
           {"REPEAT 2 {\nREPEAT 3 {\nM 0\n}\nDETECTOR rec[-4]\n}",
            "record target rec[-4] " + record},
           {"REPEAT 2 {\nREPEAT 3 {\nM 0\n}\n}\nDETECTOR rec[-7]",
            "record target rec[-7] " + record},
           {"EXP_VAL X0\nDETECTOR rec[-1]", "record target rec[-1] " + record},
           {"M 0 1\nOBSERVABLE_INCLUDE(0) rec[-2] rec[-5] rec[-9]",
            "record target rec[-5] " + record},
           {"REPEAT 1000000 {\nREPEAT 1000000 {\nX 0\n}\n}\nDETECTOR rec[-1]",
            "circuit is too large: it expands to 1000000000001 instructions, and at most "
            "134217728 are supported"},
           {"REPEAT 18446744073709551615 {\nX 0\nX 1\n}",
            "circuit is too large: it expands to more than 18446744073709551615 instructions, "
            "and at most 134217728 are supported"},
           {"REPEAT 0 {\nREPEAT 18446744073709551615 {\nREPEAT 3 {\nX 0\n}\n}\n}", "accepted"},
           {"X 18446744073709551615", "qubit index 18446744073709551615 is too large"},
           {"X 0\n\xff", "circuit text is not valid UTF-8 (invalid byte at offset 4)"},
           {"X \xc3", "circuit text is not valid UTF-8 (invalid byte at offset 2)"},
           {"X \xc0\x80", "circuit text is not valid UTF-8 (invalid byte at offset 2)"},
           {"X \xed\xa0\x80", "circuit text is not valid UTF-8 (invalid byte at offset 2)"},
           {"X \xf4\x90\x80\x80", "circuit text is not valid UTF-8 (invalid byte at offset 2)"},
           {"X \xf0\x9f\x98\x80 \xe2\x82\xac", "invalid qubit target \"\xf0\x9f\x98\x80\""},
       }) {
    EXPECT_EQ(error_of(c.text), c.message) << c.text;
  }
}

TEST(Circuit, ReadsAnyNestingDepthWithoutRecursion) {
  const size_t depth = 100000;
  std::string text;
  for (size_t k = 0; k < depth; ++k) text += "REPEAT 2 {\n";
  std::string unclosed = text + "X 0\n";
  text += "X 0\n";
  for (size_t k = 0; k < depth; ++k) text += "}\n";
  EXPECT_EQ(error_of(text),
            "circuit is too large: it expands to more than 18446744073709551615 instructions, "
            "and at most 134217728 are supported");
  EXPECT_EQ(error_of(unclosed), "unsupported instruction REPEAT");
  for (char& c : text) {
    if (c == '2') c = '1';
  }
  auto circuit = Circuit::try_parse(text);
  ASSERT_TRUE(circuit);
  EXPECT_EQ(letters(*circuit), "X");
}

}  // namespace
}  // namespace velkor
