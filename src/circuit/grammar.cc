#include "circuit/grammar.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "base/internal_error.h"

namespace velkor {
namespace {

// The grammar is matched like an ordered-choice parser: a `repeat_block` that does not reach
// its closing "}" is given up as a whole and its first line is read again as an instruction.
// Done naively, unclosed blocks nested n deep would be read 2^n times. Instead, the outcome of
// every block attempt and the stop position of every statement loop inside a block are
// remembered by start offset (a statement loop from a given offset always stops at the same
// place), so each piece of text is matched a bounded number of times. Skipping a repeated
// attempt changes nothing in the failure tracking: all its failures lie at or before the
// furthest position already recorded, and those at it only re-add rules already listed.

constexpr size_t kFailed = SIZE_MAX;

// Outcomes of block attempts by head offset: the end of the block, or kFailed.
class BlockOutcomes {
 public:
  std::optional<size_t> find(size_t head) const {
    if (ends_.empty() || head > max_head_) return std::nullopt;
    auto it = ends_.find(head);
    if (it == ends_.end()) return std::nullopt;
    return it->second;
  }
  void set(size_t head, size_t end) {
    ends_[head] = end;
    max_head_ = std::max(max_head_, head);
  }

 private:
  std::unordered_map<size_t, size_t> ends_;
  size_t max_head_ = 0;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_identifier_char(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool is_target_char(char c) {
  return c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '#' && c != '}';
}

// The furthest failure position and the rules expected there, updated by every failed
// attempt of a tracked rule.
class FailureTracker {
 public:
  explicit FailureTracker(bool enabled) : enabled_(enabled) {}

  // The start count of an attempt beginning at `pos`.
  size_t start(size_t pos) const { return pos == furthest_ ? expected_.size() : 0; }

  void fail(Rule rule, size_t pos, size_t start_count) {
    if (!enabled_) return;
    size_t failure_count = pos == furthest_ ? expected_.size() : 0;
    // Exactly one more specific rule failed here while `rule` ran: it stays in place of `rule`.
    if (failure_count == start_count + 1) return;
    if (pos == furthest_) {
      check_invariant(start_count <= expected_.size(), "failure tracking lost entries");
      expected_.resize(start_count);
      expected_.push_back(rule);
    } else if (pos > furthest_) {
      expected_.clear();
      furthest_ = pos;
      expected_.push_back(rule);
    }
  }

  ParseFailure failure() const {
    std::vector<Rule> rules = expected_;
    std::sort(rules.begin(), rules.end());
    rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
    return {furthest_, std::move(rules)};
  }

 private:
  bool enabled_;
  size_t furthest_ = 0;
  std::vector<Rule> expected_;
};

class Matcher {
 public:
  // The first pass tracks failures and skips text it has matched before; the second pass
  // reports every statement, following the block outcomes the first pass found.
  Matcher(std::string_view text, StatementSink& sink, BlockOutcomes& outcomes, bool first_pass)
      : s_(text.data()),
        n_(text.size()),
        sink_(sink),
        block_outcomes_(outcomes),
        first_pass_(first_pass),
        track_(first_pass) {}

  // Matches `file`. Sets `skipped_text` when statements were skipped over instead of being
  // reported because an earlier attempt had already matched them.
  Expected<Ok, ParseFailure> run() {
    size_t file_start_count = track_.start(0);
    size_t p = 0;
    skip_line_ends(p);
    for (;;) {
      // `p` is where the next statement of the innermost open block (or of the file) starts.
      if (auto stop = remembered_loop_stop(p)) {
        skipped_text = true;
        p = *stop;
      } else if (statement(p)) {
        continue;
      }
      // No statement starts at `p`.
      if (frames_.empty()) break;
      if (is(p, '}')) {
        close_block(p);
      } else {
        give_up_block(p);
      }
    }
    size_t eoi_start_count = track_.start(p);
    if (p == n_) return Ok{};
    track_.fail(Rule::EOI, p, eoi_start_count);
    track_.fail(Rule::file, 0, file_start_count);
    return unexpected(track_.failure());
  }

  bool skipped_text = false;

 private:
  // A `repeat_block` attempt whose body is being matched.
  struct Frame {
    size_t head;          // offset of "REPEAT"
    size_t start_count;   // failure-tracking start count of the attempt
    size_t entries_mark;  // loop_entries_ size when the attempt began
    size_t id;            // index into loop_stops_by_frame_
  };

  bool is(size_t p, char c) const { return p < n_ && s_[p] == c; }

  // The implicit separator: whitespace, then at most one comment (it runs to the line feed).
  void skip(size_t& p) const {
    while (p < n_ && (s_[p] == ' ' || s_[p] == '\t' || s_[p] == '\r')) ++p;
    if (is(p, '#')) {
      const void* lf = std::memchr(s_ + p, '\n', n_ - p);
      p = lf ? static_cast<size_t>(static_cast<const char*>(lf) - s_) : n_;
    }
  }

  // `line_end` = "\n" ~ "\n"*, with separators.
  bool line_end(size_t& p) const {
    if (!is(p, '\n')) return false;
    ++p;
    skip(p);
    if (is(p, '\n')) {
      ++p;
      for (;;) {
        size_t q = p;
        skip(q);
        if (!is(q, '\n')) break;
        p = q + 1;
      }
    }
    return true;
  }

  // `line_end`* inside a sequence: no separator before the first.
  void line_ends(size_t& p) const {
    if (!line_end(p)) return;
    for (;;) {
      size_t q = p;
      skip(q);
      if (!line_end(q)) return;
      p = q;
    }
  }

  // Separator, `line_end`*, separator: what precedes the first statement of a file or body.
  void skip_line_ends(size_t& p) const {
    do {
      skip(p);
    } while (line_end(p));
  }

  std::optional<size_t> remembered_loop_stop(size_t p) const {
    if (!first_pass_ || loop_stops_.empty() || p > loop_stops_max_) return std::nullopt;
    auto it = loop_stops_.find(p);
    if (it == loop_stops_.end()) return std::nullopt;
    return it->second;
  }

  // Tries `repeat_block` | `instruction` at `p`. On success moves `p` to the next statement
  // (a begun block counts as success: its body statements come next).
  bool statement(size_t& p) {
    if (first_pass_ && !frames_.empty()) loop_entries_.push_back({p, frames_.back().id});
    std::optional<size_t> outcome = block_outcomes_.find(p);
    if (outcome && *outcome != kFailed && first_pass_) {
      skipped_text = true;
      p = *outcome;
      skip(p);
      return true;
    }
    if (outcome != kFailed && begin_block(p)) return true;
    return instruction(p);
  }

  // Matches ^"REPEAT" ~ `unsigned` ~ "{" at `p`; on success opens a frame for the body.
  bool begin_block(size_t& p) {
    size_t start_count = track_.start(p);
    static constexpr char kWord[] = "REPEAT";
    bool word = n_ - p >= 6;
    for (size_t k = 0; word && k < 6; ++k) word = (s_[p + k] & ~0x20) == kWord[k];
    if (!word) {
      track_.fail(Rule::repeat_block, p, start_count);
      return false;
    }
    size_t q = p + 6;
    skip(q);
    size_t count_start_count = track_.start(q);
    size_t count_end = q;
    while (count_end < n_ && is_digit(s_[count_end])) ++count_end;
    if (count_end == q) {
      track_.fail(Rule::unsigned_, q, count_start_count);
      track_.fail(Rule::repeat_block, p, start_count);
      return false;
    }
    TextSpan count{q, count_end};
    q = count_end;
    skip(q);
    if (!is(q, '{')) {
      track_.fail(Rule::repeat_block, p, start_count);
      return false;
    }
    frames_.push_back({p, start_count, loop_entries_.size(), loop_stops_by_frame_.size()});
    loop_stops_by_frame_.push_back(kFailed);
    sink_.begin_repeat(p, count);
    p = q + 1;
    skip_line_ends(p);
    return true;
  }

  // The body of the innermost frame stops at the "}" at `p`.
  void close_block(size_t& p) {
    Frame frame = frames_.back();
    frames_.pop_back();
    loop_stops_by_frame_[frame.id] = p;
    size_t end = p + 1;
    skip(end);
    line_ends(end);
    block_outcomes_.set(frame.head, end);
    // Only a block given up around this one could make its body be matched again.
    if (frames_.empty()) loop_entries_.resize(frame.entries_mark);
    sink_.end_repeat(end);
    p = end;
    skip(p);
  }

  // The body of the innermost frame stops at `p`, which is not "}": the block does not match
  // and its first line is read again as an instruction.
  void give_up_block(size_t& p) {
    Frame frame = frames_.back();
    frames_.pop_back();
    loop_stops_by_frame_[frame.id] = p;
    track_.fail(Rule::repeat_block, frame.head, frame.start_count);
    block_outcomes_.set(frame.head, kFailed);
    if (first_pass_) {
      for (size_t k = frame.entries_mark; k < loop_entries_.size(); ++k) {
        auto [pos, id] = loop_entries_[k];
        loop_stops_.emplace(pos, loop_stops_by_frame_[id]);
        loop_stops_max_ = std::max(loop_stops_max_, pos);
      }
    }
    loop_entries_.resize(frame.entries_mark);
    sink_.abandon_repeat();
    p = frame.head;
    bool matched = instruction(p);
    check_invariant(matched, "a REPEAT head reads as an instruction");
  }

  // Tries `instruction` at `p`; on success reports it and moves `p` to the next statement.
  bool instruction(size_t& p) {
    size_t start_count = track_.start(p);
    if (p >= n_ || !is_identifier_char(s_[p])) {
      track_.fail(Rule::identifier, p, start_count);
      track_.fail(Rule::instruction, p, start_count);
      return false;
    }
    match_.arguments.reset();
    match_.numbers.clear();
    match_.targets.clear();
    size_t q = p;
    while (q < n_ && is_identifier_char(s_[q])) ++q;
    match_.identifier = {p, q};
    skip(q);
    arguments(q);
    skip(q);
    size_t target_start_count = track_.start(q);
    if (q < n_ && is_target_char(s_[q])) {
      for (;;) {
        size_t end = q;
        while (end < n_ && is_target_char(s_[end])) ++end;
        match_.targets.push_back({q, end});
        q = end;
        size_t next = q;
        skip(next);
        target_start_count = track_.start(next);
        if (next >= n_ || !is_target_char(s_[next])) {
          track_.fail(Rule::target, next, target_start_count);
          break;
        }
        q = next;
      }
    } else {
      track_.fail(Rule::target, q, target_start_count);
    }
    skip(q);
    if (!line_end(q)) {
      check_invariant(is(q, '}') || q == n_, "an instruction ends at a line feed, } or the end");
    }
    match_.node = {p, q};
    sink_.instruction(match_);
    p = q;
    skip(p);
    return true;
  }

  // `arguments`? at `p`: on a match records its nodes and moves `p` past the ")".
  void arguments(size_t& p) {
    size_t start_count = track_.start(p);
    if (!is(p, '(')) {
      track_.fail(Rule::arguments, p, start_count);
      return;
    }
    size_t q = p + 1;
    skip(q);
    size_t number_start_count = track_.start(q);
    if (size_t end = number(q); end != q) {
      match_.numbers.push_back({q, end});
      q = end;
      skip(q);
      for (;;) {
        size_t next = q;
        skip(next);
        if (!is(next, ',')) break;
        ++next;
        skip(next);
        number_start_count = track_.start(next);
        end = number(next);
        if (end == next) {
          track_.fail(Rule::number, next, number_start_count);
          break;
        }
        match_.numbers.push_back({next, end});
        q = end;
      }
    } else {
      track_.fail(Rule::number, q, number_start_count);
    }
    skip(q);
    if (!is(q, ')')) {
      match_.numbers.clear();
      track_.fail(Rule::arguments, p, start_count);
      return;
    }
    match_.arguments = TextSpan{p, q + 1};
    p = q + 1;
  }

  // End of the `number` matched at `p`, or `p` when none matches.
  size_t number(size_t p) const {
    size_t q = p;
    if (is(q, '+') || is(q, '-')) ++q;
    auto digits = [&](size_t& i) {
      size_t from = i;
      while (i < n_ && is_digit(s_[i])) ++i;
      return i > from;
    };
    if (digits(q)) {
      if (is(q, '.')) {
        ++q;
        digits(q);
      }
    } else if (is(q, '.') && q + 1 < n_ && is_digit(s_[q + 1])) {
      ++q;
      digits(q);
    } else {
      return p;
    }
    if (is(q, 'e') || is(q, 'E')) {
      size_t e = q + 1;
      if (is(e, '+') || is(e, '-')) ++e;
      if (digits(e)) q = e;
    }
    return q;
  }

  const char* s_;
  size_t n_;
  StatementSink& sink_;
  BlockOutcomes& block_outcomes_;
  bool first_pass_;
  FailureTracker track_;
  InstructionMatch match_;
  std::vector<Frame> frames_;
  // Statement-loop starts inside open or recently closed frames, with their frame.
  std::vector<std::pair<size_t, size_t>> loop_entries_;
  std::vector<size_t> loop_stops_by_frame_;
  // Where the statement loop starting at an offset stops, for loops inside given-up blocks.
  std::unordered_map<size_t, size_t> loop_stops_;
  size_t loop_stops_max_ = 0;
};

}  // namespace

std::string_view rule_name(Rule rule) {
  static constexpr std::string_view kNames[] = {
      "EOI",          "WHITESPACE",  "COMMENT",   "file",   "statement",
      "repeat_block", "instruction", "arguments", "target", "identifier",
      "unsigned",     "number",      "line_end"};
  return kNames[static_cast<size_t>(rule)];
}

Expected<Ok, ParseFailure> match_file(std::string_view text, StatementSink& sink) {
  BlockOutcomes outcomes;
  Matcher first(text, sink, outcomes, true);
  auto result = first.run();
  if (!result || !first.skipped_text) return result;
  // Some statements were skipped instead of reported: report them all again.
  sink.restart();
  return Matcher(text, sink, outcomes, false).run();
}

}  // namespace velkor
