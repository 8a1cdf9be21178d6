#pragma once

#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

namespace velkor {

/// Every noise channel and readout flip is skipped and EXP_VAL produces nothing: the reference
/// run.
struct Noiseless {};

/// Each fault site fails independently with its own probability: ordinary sampling.
struct Probabilistic {};

/// A site fails exactly when its index is in `sites` (ascending), or, with `complement`, exactly
/// when it is not. `cursor` and `next_site` track the walk through the sites.
struct Fixed {
  std::vector<uint64_t> sites;
  size_t cursor = 0;
  uint64_t next_site = 0;
  bool complement = false;

  /// Whether the next site the executor reaches faults; advances past it.
  bool next_fault() {
    bool listed = cursor < sites.size() && sites[cursor] == next_site;
    if (listed) ++cursor;
    ++next_site;
    return listed != complement;
  }
};

/// How the shot executor treats noise.
using FaultMode = std::variant<Noiseless, Probabilistic, Fixed>;

}  // namespace velkor
