#pragma once

// A literal, recursive, backtracking matcher of the circuit grammar, one function per rule and
// combinator. It is slow (exponential on nested unclosed blocks) and recursive, so it serves
// only as an independent oracle for the real matcher in tests and fuzzing on short texts.

#include <algorithm>
#include <cctype>
#include <functional>
#include <string_view>
#include <vector>

#include "circuit/parse_tree.h"

namespace velkor::oracle {

class GrammarOracle {
 public:
  explicit GrammarOracle(std::string_view text) : s_(text) {}

  /// The tree of `file`, or the failure with its rules sorted and deduplicated.
  Expected<ParseTree, ParseFailure> parse() {
    size_t p = 0;
    if (file(p)) return ParseTree{nodes_};
    std::vector<Rule> rules = expected_;
    std::sort(rules.begin(), rules.end());
    rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
    return unexpected(ParseFailure{furthest_, rules});
  }

 private:
  using Parser = std::function<bool(size_t&)>;

  void track(Rule r, size_t pos, size_t start_count) {
    size_t failure_count = pos == furthest_ ? expected_.size() : 0;
    if (failure_count == start_count + 1) return;
    if (pos == furthest_) {
      expected_.resize(start_count);
      expected_.push_back(r);
    } else if (pos > furthest_) {
      expected_.clear();
      furthest_ = pos;
      expected_.push_back(r);
    }
  }

  // A tracked rule that makes a node (unless `in_lookahead`); `atomic` rules track nothing
  // inside (here they call no rules anyway).
  bool rule(Rule r, size_t& p, const Parser& body) {
    size_t start = p, mark = nodes_.size();
    size_t start_count = p == furthest_ ? expected_.size() : 0;
    if (!in_lookahead_) nodes_.push_back({r, p, p, 0});
    if (body(p)) {
      if (!in_lookahead_) {
        nodes_[mark].end = p;
        nodes_[mark].descendants = nodes_.size() - mark - 1;
      }
      return true;
    }
    nodes_.resize(mark);
    p = start;
    track(r, start, start_count);
    return false;
  }

  bool lit(size_t& p, std::string_view t) {
    if (s_.substr(p, t.size()) != t) return false;
    p += t.size();
    return true;
  }

  bool any(size_t& p) {
    if (p >= s_.size()) return false;
    unsigned char b = static_cast<unsigned char>(s_[p]);
    size_t len = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    p = std::min(s_.size(), p + len);
    return true;
  }

  void skip(size_t& p) {
    auto ws = [&] { return p < s_.size() && (s_[p] == ' ' || s_[p] == '\t' || s_[p] == '\r'); };
    while (ws()) ++p;
    while (p < s_.size() && s_[p] == '#') {
      while (p < s_.size() && s_[p] != '\n') any(p);
      while (ws()) ++p;
    }
  }

  // a ~ b ~ ... with the separator between elements; gives everything back on failure.
  bool seq(size_t& p, std::initializer_list<Parser> elements) {
    size_t start = p, mark = nodes_.size();
    bool first = true;
    for (const Parser& e : elements) {
      if (!first) skip(p);
      first = false;
      if (!e(p)) {
        p = start;
        nodes_.resize(mark);
        return false;
      }
    }
    return true;
  }

  // e* with the separator between steps.
  bool rep(size_t& p, const Parser& e) {
    if (!e(p)) return true;
    for (;;) {
      size_t save = p, mark = nodes_.size();
      skip(p);
      if (!e(p)) {
        p = save;
        nodes_.resize(mark);
        return true;
      }
    }
  }

  bool opt(size_t& p, const Parser& e) {
    e(p);
    return true;
  }

  bool lookahead(size_t& p, const Parser& e) {
    size_t save = p, mark = nodes_.size();
    bool was = in_lookahead_;
    in_lookahead_ = true;
    bool ok = e(p);
    in_lookahead_ = was;
    p = save;
    nodes_.resize(mark);
    return ok;
  }

  bool file(size_t& p) {
    return rule(Rule::file, p, [&](size_t& q) {
      return seq(q, {[&](size_t& r) { return r == 0; },
                     [&](size_t& r) { return rep(r, [&](size_t& t) { return line_end(t); }); },
                     [&](size_t& r) { return rep(r, [&](size_t& t) { return statement(t); }); },
                     [&](size_t& r) { return eoi(r); }});
    });
  }

  bool eoi(size_t& p) {
    return rule(Rule::EOI, p, [&](size_t& q) { return q == s_.size(); });
  }

  bool statement(size_t& p) { return repeat_block(p) || instruction(p); }

  bool repeat_block(size_t& p) {
    return rule(Rule::repeat_block, p, [&](size_t& q) {
      return seq(q,
                 {[&](size_t& r) {
                    std::string_view w = s_.substr(r, 6);
                    if (w.size() < 6) return false;
                    for (size_t k = 0; k < 6; ++k) {
                      if (std::toupper(static_cast<unsigned char>(w[k])) != "REPEAT"[k]) {
                        return false;
                      }
                    }
                    r += 6;
                    return true;
                  },
                  [&](size_t& r) { return unsigned_(r); }, [&](size_t& r) { return lit(r, "{"); },
                  [&](size_t& r) { return rep(r, [&](size_t& t) { return line_end(t); }); },
                  [&](size_t& r) { return rep(r, [&](size_t& t) { return statement(t); }); },
                  [&](size_t& r) { return lit(r, "}"); },
                  [&](size_t& r) { return rep(r, [&](size_t& t) { return line_end(t); }); }});
    });
  }

  bool instruction(size_t& p) {
    return rule(Rule::instruction, p, [&](size_t& q) {
      return seq(q, {[&](size_t& r) { return identifier(r); },
                     [&](size_t& r) { return opt(r, [&](size_t& t) { return arguments(t); }); },
                     [&](size_t& r) { return rep(r, [&](size_t& t) { return target(t); }); },
                     [&](size_t& r) {
                       return line_end(r) || lookahead(r, [&](size_t& t) { return lit(t, "}"); }) ||
                              lookahead(r, [&](size_t& t) { return eoi(t); });
                     }});
    });
  }

  bool arguments(size_t& p) {
    auto number_list = [&](size_t& r) {
      return seq(r, {[&](size_t& t) { return number(t); },
                     [&](size_t& t) {
                       return rep(t, [&](size_t& u) {
                         return seq(u, {[&](size_t& v) { return lit(v, ","); },
                                        [&](size_t& v) { return number(v); }});
                       });
                     }});
    };
    return rule(Rule::arguments, p, [&](size_t& q) {
      return seq(q, {[&](size_t& r) { return lit(r, "("); },
                     [&](size_t& r) { return opt(r, number_list); },
                     [&](size_t& r) { return lit(r, ")"); }});
    });
  }

  // Atomic rules: no separators inside.
  bool target(size_t& p) {
    return rule(Rule::target, p, [&](size_t& q) {
      size_t start = q;
      while (q < s_.size() && std::string_view(" \t\r\n#}").find(s_[q]) == std::string_view::npos) {
        any(q);
      }
      return q > start;
    });
  }

  bool chars_while(size_t& q, const std::function<bool(char)>& ok) {
    size_t start = q;
    while (q < s_.size() && ok(s_[q])) ++q;
    return q > start;
  }

  static bool digit(char c) { return c >= '0' && c <= '9'; }

  bool identifier(size_t& p) {
    return rule(Rule::identifier, p, [&](size_t& q) {
      return chars_while(q, [](char c) {
        return digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
      });
    });
  }

  bool unsigned_(size_t& p) {
    return rule(Rule::unsigned_, p, [&](size_t& q) { return chars_while(q, digit); });
  }

  bool number(size_t& p) {
    return rule(Rule::number, p, [&](size_t& q) {
      if (q < s_.size() && (s_[q] == '+' || s_[q] == '-')) ++q;
      if (chars_while(q, digit)) {
        if (lit(q, ".")) chars_while(q, digit);
      } else if (!(lit(q, ".") && chars_while(q, digit))) {
        return false;
      }
      size_t save = q;
      if (q < s_.size() && (s_[q] == 'e' || s_[q] == 'E')) {
        ++q;
        if (q < s_.size() && (s_[q] == '+' || s_[q] == '-')) ++q;
        if (!chars_while(q, digit)) q = save;
      }
      return true;
    });
  }

  bool line_end(size_t& p) {
    return seq(p, {[&](size_t& r) { return lit(r, "\n"); },
                   [&](size_t& r) { return rep(r, [&](size_t& t) { return lit(t, "\n"); }); }});
  }

  std::string_view s_;
  size_t furthest_ = 0;
  std::vector<Rule> expected_;
  std::vector<ParseNode> nodes_;
  bool in_lookahead_ = false;
};

}  // namespace velkor::oracle
