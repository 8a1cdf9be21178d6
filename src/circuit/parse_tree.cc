#include "circuit/parse_tree.h"

namespace velkor {
namespace {

// Appends the nodes of every statement reported, in pre-order.
class TreeBuilder : public StatementSink {
 public:
  explicit TreeBuilder(std::vector<ParseNode>& nodes) : nodes_(nodes) {}

  void instruction(const InstructionMatch& m) override {
    size_t index = nodes_.size();
    nodes_.push_back({Rule::instruction, m.node.start, m.node.end, 0});
    nodes_.push_back({Rule::identifier, m.identifier.start, m.identifier.end, 0});
    if (m.arguments) {
      nodes_.push_back({Rule::arguments, m.arguments->start, m.arguments->end, m.numbers.size()});
      for (TextSpan n : m.numbers) nodes_.push_back({Rule::number, n.start, n.end, 0});
    }
    for (TextSpan t : m.targets) nodes_.push_back({Rule::target, t.start, t.end, 0});
    nodes_[index].descendants = nodes_.size() - index - 1;
  }

  void begin_repeat(size_t start, TextSpan count) override {
    open_.push_back(nodes_.size());
    nodes_.push_back({Rule::repeat_block, start, start, 0});
    nodes_.push_back({Rule::unsigned_, count.start, count.end, 0});
  }

  void end_repeat(size_t end) override {
    ParseNode& block = nodes_[open_.back()];
    block.end = end;
    block.descendants = nodes_.size() - open_.back() - 1;
    open_.pop_back();
  }

  void abandon_repeat() override {
    nodes_.resize(open_.back());
    open_.pop_back();
  }

  void restart() override {
    nodes_.resize(1);
    open_.clear();
  }

 private:
  std::vector<ParseNode>& nodes_;
  std::vector<size_t> open_;
};

}  // namespace

std::vector<size_t> ParseTree::children(size_t index) const {
  std::vector<size_t> out;
  size_t end = index + nodes[index].descendants + 1;
  for (size_t k = index + 1; k < end; k += nodes[k].descendants + 1) out.push_back(k);
  return out;
}

Expected<ParseTree, ParseFailure> parse(std::string_view text) {
  ParseTree tree;
  tree.nodes.push_back({Rule::file, 0, text.size(), 0});
  TreeBuilder builder(tree.nodes);
  auto matched = match_file(text, builder);
  if (!matched) return unexpected(std::move(matched.error()));
  tree.nodes.push_back({Rule::EOI, text.size(), text.size(), 0});
  tree.nodes[0].descendants = tree.nodes.size() - 1;
  return tree;
}

}  // namespace velkor
