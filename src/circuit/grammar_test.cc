#include <gtest/gtest.h>

#include <random>
#include <string>

#include "circuit/failure_report.h"
#include "circuit/grammar_oracle.h"
#include "circuit/parse_tree.h"

namespace velkor {
namespace {

// "(file (instruction identifier:H target:0) EOI)": rules with the texts of leaf nodes.
std::string describe(std::string_view text, const ParseTree& tree, size_t index = 0) {
  const ParseNode& node = tree.nodes[index];
  std::string name(rule_name(node.rule));
  std::vector<size_t> children = tree.children(index);
  if (children.empty()) {
    if (node.rule == Rule::EOI) return name;
    return name + ":" + std::string(text.substr(node.start, node.end - node.start));
  }
  std::string out = "(" + name;
  for (size_t child : children) out += " " + describe(text, tree, child);
  return out + ")";
}

TEST(Grammar, BuildsTreesOfTheStatedShapes) {
  struct Case {
    std::string_view text;
    std::string_view tree;
  };
  for (Case c : std::initializer_list<Case>{
           {"", "(file EOI)"},
           {"# only a comment\n\n", "(file EOI)"},
           {"h 0", "(file (instruction identifier:h target:0) EOI)"},
           {"H 0 X 1", "(file (instruction identifier:H target:0 target:X target:1) EOI)"},
           {"REPEAT3{X 0}",
            "(file (repeat_block unsigned:3 (instruction identifier:X target:0)) EOI)"},
           {"repeat 3 {\nX 0\n}",
            "(file (repeat_block unsigned:3 (instruction identifier:X target:0)) EOI)"},
           {"REPEAT 2 { X 0 } Y 1\n",
            "(file (repeat_block unsigned:2 (instruction identifier:X target:0)) "
            "(instruction identifier:Y target:1) EOI)"},
           {"X_ERROR(0.1 0", "(file (instruction identifier:X_ERROR target:(0.1 target:0) EOI)"},
           {"REPEAT 3 {\nX 0\n",
            "(file (instruction identifier:REPEAT target:3 target:{) "
            "(instruction identifier:X target:0) EOI)"},
           {"M( +1.5e-3 ,.5,2. )0 rec[-1]\r\n",
            "(file (instruction identifier:M (arguments number:+1.5e-3 number:.5 number:2.) "
            "target:0 target:rec[-1]) EOI)"},
           {"5 X0*Y1 !3 é#c\n\n  \n#x\nTICK",
            "(file (instruction identifier:5 target:X0*Y1 target:!3 target:é) "
            "(instruction identifier:TICK) EOI)"},
           {"X() 1e", "(file (instruction identifier:X arguments:() target:1e) EOI)"},
           {"REPEAT 1 {\nREPEAT 2 {\n}\n}\n",
            "(file (repeat_block unsigned:1 (repeat_block unsigned:2)) EOI)"},
       }) {
    auto tree = parse(c.text);
    ASSERT_TRUE(tree) << c.text;
    EXPECT_EQ(describe(c.text, *tree), c.tree) << c.text;
  }
}

std::string report(std::string_view text) {
  auto tree = parse(text);
  if (tree) return "parsed";
  return format_failure(text, tree.error());
}

TEST(Grammar, ReportsFailuresExactly) {
  struct Case {
    std::string_view text;
    std::string_view report;
  };
  for (Case c : std::initializer_list<Case>{
           {"H 0\n}\n",
            " --> 2:1\n  |\n2 | }\n  | ^---\n  |\n  = expected EOI, repeat_block, or identifier"},
           {"H 0 }",
            " --> 1:5\n  |\n1 | H 0 }\n  |     ^---\n  |\n"
            "  = expected EOI, repeat_block, target, or identifier"},
           {"}", " --> 1:1\n  |\n1 | }\n  | ^---\n  |\n  = expected file"},
           {" -1",
            " --> 1:2\n  |\n1 |  -1\n  |  ^---\n  |\n"
            "  = expected EOI, repeat_block, or identifier"},
           {"-1", " --> 1:1\n  |\n1 | -1\n  | ^---\n  |\n  = expected file"},
           {"X 0\n\n\n\n\n\n\n\n\n\t}",
            "  --> 10:2\n   |\n10 | \t}\n   | \t^---\n   |\n"
            "   = expected EOI, repeat_block, or identifier"},
       }) {
    EXPECT_EQ(report(c.text), c.report) << c.text;
  }
}

TEST(FailureReport, CountsCharactersAndShowsLineBreaksOnlyWhenFailingOnOne) {
  struct Case {
    std::string_view text;
    size_t offset;
    std::vector<Rule> rules;
    std::string_view report;
  };
  for (const Case& c : std::vector<Case>{
           {"X 0\r\nY",
            3,
            {Rule::EOI, Rule::target},
            " --> 1:4\n  |\n1 | X 0\u240D\u240A\n  |    ^---\n  |\n  = expected EOI or target"},
           {"X 0\r\nY",
            6,
            {Rule::target},
            " --> 2:2\n  |\n2 | Y\n  |  ^---\n  |\n  = expected target"},
           {"A\r\nB\rC\n\n",
            8,
            {Rule::file},
            " --> 4:1\n  |\n4 | \n  | ^---\n  |\n  = expected file"},
           {"A\r\nB\rC}\n",
            6,
            {Rule::EOI},
            " --> 2:4\n  |\n2 | BC}\n  |    ^---\n  |\n  = expected EOI"},
           {"\u00e9\t\u4e2d}",
            6,
            {Rule::EOI},
            " --> 1:4\n  |\n1 | \u00e9\t\u4e2d}\n  |  \t ^---\n  |\n  = expected EOI"},
       }) {
    EXPECT_EQ(format_failure(c.text, ParseFailure{c.offset, c.rules}), c.report) << c.text;
  }
}

// Counts how often the matcher had to report everything again after skipping known text.
struct RestartCounter : StatementSink {
  void instruction(const InstructionMatch&) override {}
  void begin_repeat(size_t, TextSpan) override {}
  void end_repeat(size_t) override {}
  void abandon_repeat() override {}
  void restart() override { ++restarts; }
  int restarts = 0;
};

// Random texts over fragments that exercise every rule, compared with the literal
// backtracking matcher: same tree, or same failure position and rules.
TEST(Grammar, AgreesWithTheBacktrackingOracle) {
  const std::vector<std::vector<std::string_view>> alphabets = {
      {"REPEAT",  "repeat ",
       " 2",      "3",
       " {",      "{",
       "}",       " }",
       "\n",      "\n\n",
       " ",       "\t",
       "\r",      "\r\n",
       "#c",      "# x\n",
       "X",       " 0",
       "M",       "(",
       ")",       ",",
       "0.5",     "-",
       "+",       ".",
       "1e",      "e-2",
       "rec[-1]", "!",
       "\u00e9",  "_",
       "H 0\n",   "REPEAT 1 {\n",
       "}\n",     "(0.1)"},
      {"REPEAT 1 {", "REPEAT 2 {\n", " REPEAT 0 { ", "}", "}\n", "\n", "X 0", " Y", "-", "#}\n"}};
  std::mt19937_64 rng(7);
  RestartCounter counter;
  for (const auto& fragments : alphabets) {
    for (int round = 0; round < 30000; ++round) {
      std::string text;
      size_t pieces = rng() % 16;
      for (size_t k = 0; k < pieces; ++k) text += fragments[rng() % fragments.size()];
      auto ours = parse(text);
      auto theirs = oracle::GrammarOracle(text).parse();
      ASSERT_EQ(ours.has_value(), theirs.has_value()) << text;
      if (ours) {
        ASSERT_EQ(ours->nodes, theirs->nodes) << text;
      } else {
        ASSERT_EQ(ours.error(), theirs.error()) << text;
      }
      (void)match_file(text, counter);
    }
  }
  // The texts reach the path that skips known text and reports again.
  EXPECT_GT(counter.restarts, 100);
}

}  // namespace
}  // namespace velkor
