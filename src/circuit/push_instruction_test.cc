#include "circuit/push_instruction.h"

#include <gtest/gtest.h>

#include <cmath>

#include "circuit/ast_instruction.h"
#include "circuit/grammar.h"

namespace velkor {
namespace {

// The first instruction of `line`, read as the circuit reader reads it.
struct FirstInstruction : StatementSink {
  explicit FirstInstruction(std::string_view text) : text(text) {}
  void instruction(const InstructionMatch& m) override {
    if (!seen) parse_instruction(text, m, ast);
    seen = true;
  }
  void begin_repeat(size_t, TextSpan) override {}
  void end_repeat(size_t) override {}
  void abandon_repeat() override {}
  void restart() override { seen = false; }
  std::string_view text;
  AstInstruction ast;
  bool seen = false;
};

AstInstruction ast_of(std::string_view line) {
  FirstInstruction first(line);
  EXPECT_TRUE(match_file(line, first)) << line;
  return first.ast;
}

Expected<std::vector<Instruction>, std::string> push(std::string_view line) {
  std::vector<Instruction> out;
  auto pushed = push_instruction(ast_of(line), out);
  if (!pushed) return unexpected(std::move(pushed.error()));
  return out;
}

std::string error_of(std::string_view line) {
  auto result = push(line);
  return result ? "accepted" : result.error();
}

TEST(ParseInstruction, UpperCasesNamesAndConvertsNumbers) {
  AstInstruction ast = ast_of("x_error( 1e-3 , -0, +.5, 2., 1E400, -1e-400 ) q \"!0\"");
  EXPECT_EQ(ast.name, "X_ERROR");
  ASSERT_EQ(ast.arguments.size(), 6u);
  EXPECT_EQ(ast.arguments[0], 0.001);
  EXPECT_TRUE(ast.arguments[1] == 0 && std::signbit(ast.arguments[1]));
  EXPECT_EQ(ast.arguments[2], 0.5);
  EXPECT_EQ(ast.arguments[3], 2.0);
  EXPECT_EQ(ast.arguments[4], INFINITY);
  EXPECT_TRUE(ast.arguments[5] == 0 && std::signbit(ast.arguments[5]));
  EXPECT_EQ(ast.targets, (std::vector<std::string_view>{"q", "\"!0\""}));
  EXPECT_EQ(number_value("0.000000000000000000000000000001e330"), 1e300);
  EXPECT_EQ(number_value("1000000000000000000000e-500"), 0.0);
  EXPECT_EQ(number_value("2.5e-324"), 5e-324);
  EXPECT_EQ(number_value("0.30000000000000004"), 0.1 + 0.2);
}

TEST(PushInstruction, ConvertsEveryAcceptedName) {
  using Q = Qubits;
  PauliProduct x0y1{{{0, Pauli::X}, {1, Pauli::Y}}, 2, false};
  PauliProduct not_z2{{{2, Pauli::Z}}, 3, true};
  struct Case {
    std::string_view line;
    std::vector<Instruction> expected;
  };
  for (const Case& c : std::vector<Case>{
           {"I 0", {Gate{GateKind::I, Q{0}}}},
           {"s_dag 1 +2 007", {Gate{GateKind::S_DAG, Q{1, 2, 7}}}},
           {"X", {Gate{GateKind::X, Q{}}}},
           {"cx 0 1 2 3", {Gate{GateKind::CX, Q{0, 1}}, Gate{GateKind::CX, Q{2, 3}}}},
           {"CNOT rec[-1] 5", {Feedback{1, 5, Pauli::X}}},
           {"CY rec[-2] 0", {Feedback{2, 0, Pauli::Y}}},
           {"CZ rec[-+3] 1 4 5", {Feedback{3, 1, Pauli::Z}, Gate{GateKind::CZ, Q{4, 5}}}},
           {"CCZ 0 1 2 2 1 0", {Gate{GateKind::CCZ, Q{0, 1, 2, 2, 1, 0}}}},
           {"SWAP 0 1 1 0", {Gate{GateKind::SWAP, Q{0, 1, 1, 0}}}},
           {"M !0 1", {Measure{Basis::Z, false, std::nullopt, {{0, true}, {1, false}}}}},
           {"MRX(0) 2", {Measure{Basis::X, true, 0.0, {{2, false}}}}},
           {"M(0.1) 0", {Measure{Basis::Z, false, 0.1, {{0, false}}}}},
           {"MPP X0*Y1 !Z2", {MeasureProducts{std::nullopt, {x0y1, not_z2}}}},
           {"MPP(0.25)", {MeasureProducts{0.25, {}}}},
           {"MPP(-0.0)", {MeasureProducts{-0.0, {}}}},
           {"EXP_VAL !Z2", {ExpVal{{not_z2}}}},
           {"RX 3 3", {Reset{Basis::X, Q{3, 3}}}},
           {"Y_ERROR(0.5) 1", {Noise{PauliError{Pauli::Y, 0.5, Q{1}}}}},
           {"DEPOLARIZE1(1) 1", {Noise{Depolarize1{1.0, Q{1}}}}},
           {"DEPOLARIZE2(0.1) 0 1", {Noise{Depolarize2{0.1, {{0, 1}}}}}},
           {"DEPOLARIZE3(0.1) 0 1 2", {Noise{Depolarize3{0.1, {{0, 1, 2}}}}}},
           {"PAULI_CHANNEL_1(0.5, 0.25, 0.25) 4", {Noise{PauliChannel1{{0.5, 0.25, 0.25}, Q{4}}}}},
           // Sums are formed left to right: these three values pass in this order only.
           {"PAULI_CHANNEL_1(0.11, 0.56, 0.33) 0",
            {Noise{PauliChannel1{{0.11, 0.56, 0.33}, Q{0}}}}},
           {"PAULI_CHANNEL_2(0,0,0,0,0,0,0,0,0,0,0,0,0,0,1) 0 1",
            {Noise{PauliChannel2{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {{0, 1}}}}}},
           {"DETECTOR(1, 2, 0) rec[-1] rec[-2]", {Detector{{1, 2}}}},
           {"OBSERVABLE_INCLUDE(2) rec[-1]", {ObservableInclude{2, {1}}}},
           {"OBSERVABLE_INCLUDE(-0) rec[-1]", {ObservableInclude{0, {1}}}},
           {"OBSERVABLE_INCLUDE(18446744073709551616)", {ObservableInclude{UINT64_MAX, {}}}},
           {"TICK(x) y", {}},
           {"QUBIT_COORDS(0, 0) 5", {}},
           {"SHIFT_COORDS(1)", {}},
       }) {
    auto result = push(c.line);
    ASSERT_TRUE(result) << c.line << ": " << result.error();
    EXPECT_EQ(*result, c.expected) << c.line;
  }
}

TEST(PushInstruction, ReportsTheFirstFailingCheck) {
  struct Case {
    std::string_view line;
    std::string_view message;
  };
  for (Case c : std::initializer_list<Case>{
           {"H 0", "unsupported instruction H"},
           {"h 0", "unsupported instruction H"},
           {"MY 0", "unsupported instruction MY"},
           {"REPEAT 3 {", "unsupported instruction REPEAT"},
           {"X(1) !0", "X does not take arguments"},
           {"X !0", "inverted target \"!0\" is only valid for measurements"},
           {"X -1", "invalid qubit target \"-1\""},
           {"X +", "invalid qubit target \"+\""},
           {"X 18446744073709551616", "invalid qubit target \"18446744073709551616\""},
           {"X é\\\"", "invalid qubit target \"é\\\\\\\"\""},
           {"M !!0", "invalid qubit target \"!!0\""},
           {"M !rec[-1]", "measurement feedback target \"!rec[-1]\" is unsupported"},
           {"CX 0 1 2", "CX requires an even number of targets"},
           {"CX sweep[0] 1", "measurement feedback target \"sweep[0]\" is unsupported"},
           {"CY 0 1", "ordinary qubit-controlled CY is unsupported"},
           {"CY 0 !1", "inverted target \"!1\" is only valid for measurements"},
           {"CZ 3 3", "CZ pair endpoints must be different (both were 3)"},
           {"CNOT rec[-0] 1", "measurement record lookback must be positive"},
           {"CNOT rec[-1] rec[-2]", "measurement feedback target \"rec[-2]\" is unsupported"},
           {"SWAP 0 1 2", "SWAP requires an even number of targets"},
           {"SWAP x 1 2", "invalid qubit target \"x\""},
           {"SWAP 0 1 2 2", "SWAP pair endpoints must be different (both were 2)"},
           {"CCZ 0 1", "CCZ requires a multiple of three targets"},
           {"CCZ 0 1 2 5 6 5", "CCZ triple endpoints must be different (got 5, 6, 5)"},
           {"M(0.1, 0.2) 0", "M takes at most one readout probability"},
           {"M(1.5) 0", "probability must be finite and between 0 and 1, but got 1.5"},
           {"M(1.5) x", "invalid qubit target \"x\""},
           {"MPP(-0.5) X0", "probability must be finite and between 0 and 1, but got -0.5"},
           {"MPP(2) x0", "probability must be finite and between 0 and 1, but got 2"},
           {"MPP X0*X0", "MPP product \"X0*X0\" contains qubit 0 more than once"},
           {"MPP X0*", "malformed MPP product \"X0*\""},
           {"MPP X0**Y1", "malformed MPP product \"X0**Y1\""},
           {"MPP x0", "invalid MPP Pauli factor \"x0\""},
           {"MPP X0*!", "invalid MPP Pauli factor \"!\""},
           {"MPP !Y", "invalid MPP Pauli factor \"!Y\""},
           {"MPP Z1a", "invalid MPP Pauli factor \"Z1a\""},
           {"MPP Z18446744073709551616", "invalid MPP qubit index in \"Z18446744073709551616\""},
           {"EXP_VAL", "EXP_VAL requires at least one Pauli product"},
           {"EXP_VAL(1) X0", "EXP_VAL does not take arguments"},
           {"EXP_VAL X1*Z1", "EXP_VAL product \"X1*Z1\" contains qubit 1 more than once"},
           {"X_ERROR 0", "X_ERROR requires 1 probability argument(s), but got 0"},
           {"X_ERROR(2) q", "probability must be finite and between 0 and 1, but got 2"},
           {"DEPOLARIZE1(2) q", "invalid qubit target \"q\""},
           {"DEPOLARIZE1(2) 0", "probability must be finite and between 0 and 1, but got 2"},
           {"DEPOLARIZE1(1e400) 0", "probability must be finite and between 0 and 1, but got inf"},
           {"DEPOLARIZE2(0.1) 0", "DEPOLARIZE2 requires an even number of targets"},
           {"DEPOLARIZE3(0.1, 0.2) 0 1 2",
            "DEPOLARIZE3 requires 1 probability argument(s), but got 2"},
           {"PAULI_CHANNEL_1(0.5, 0.5, 0.1) 0", "PAULI_CHANNEL_1 probabilities sum to more than 1"},
           {"PAULI_CHANNEL_1(0.33, 0.56, 0.11) 0",
            "PAULI_CHANNEL_1 probabilities sum to more than 1"},
           {"PAULI_CHANNEL_1(0.5, 0.5) x",
            "PAULI_CHANNEL_1 requires 3 probability argument(s), but got 2"},
           {"PAULI_CHANNEL_2(0.1) 0 0",
            "PAULI_CHANNEL_2 requires 15 probability argument(s), but got 1"},
           {"DETECTOR rec[-0]", "measurement record lookback must be positive"},
           {"DETECTOR rec[1]", "invalid measurement record target \"rec[1]\""},
           {"DETECTOR rec[-]", "invalid measurement record target \"rec[-]\""},
           {"DETECTOR rec[-1", "invalid measurement record target \"rec[-1\""},
           {"DETECTOR rec[--1]", "invalid measurement record target \"rec[--1]\""},
           {"OBSERVABLE_INCLUDE rec[-1]", "OBSERVABLE_INCLUDE requires one observable index"},
           {"OBSERVABLE_INCLUDE(1.5) rec[-1]",
            "OBSERVABLE_INCLUDE index must be a non-negative integer, but got 1.5"},
           {"OBSERVABLE_INCLUDE(-1) rec[-1]",
            "OBSERVABLE_INCLUDE index must be a non-negative integer, but got -1"},
           {"OBSERVABLE_INCLUDE(1e20) x",
            "OBSERVABLE_INCLUDE index 100000000000000000000 is too large"},
           {"OBSERVABLE_INCLUDE(0) x", "invalid measurement record target \"x\""},
       }) {
    EXPECT_EQ(error_of(c.line), c.message) << c.line;
  }
}

TEST(PushInstruction, ChecksLongProductsForRepeatsInLinearTime) {
  std::string product = "MPP X0";
  for (int q = 1; q < 100000; ++q) product += "*Z" + std::to_string(q);
  std::string repeated = product + "*Y20";
  EXPECT_EQ(error_of(product), "accepted");
  EXPECT_TRUE(error_of(repeated).ends_with("contains qubit 20 more than once"));
}

}  // namespace
}  // namespace velkor
