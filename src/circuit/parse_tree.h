#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "base/expected.h"
#include "circuit/grammar.h"

namespace velkor {

/// One node of a parse tree: the rule it matched and its byte range [start, end) of the text.
/// Its descendants follow it directly in the tree's node list.
struct ParseNode {
  Rule rule;
  size_t start;
  size_t end;
  size_t descendants;
  bool operator==(const ParseNode&) const = default;
};

/// The `file` node of a matched text and everything below it, stored flat in pre-order so that
/// no depth of nesting needs recursion to build, walk or free.
struct ParseTree {
  std::vector<ParseNode> nodes;  // nodes[0] is the `file` node

  /// Indices of the children of node `index`, in text order. Cost: one step per child.
  std::vector<size_t> children(size_t index) const;
};

/// Parses `text` (UTF-8) from the rule `file`. Cost: linear in the text.
Expected<ParseTree, ParseFailure> parse(std::string_view text);

}  // namespace velkor
