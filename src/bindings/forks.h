#pragma once

#include <cstdint>
#include <optional>

#include "simulator/rng.h"

namespace velkor::bindings {

// What a forked child inherits: only the forking thread survives, so claims held by the others
// are void there (see Claims), and a stream keyed from the operating system's entropy would
// repeat the parent's draws unless the child rekeys it (StreamOrigin).

/// The number of forks between the process that loaded the module and this one: 0 there, one
/// more in each forked child.
uint32_t fork_generation();

/// Installs the handler that counts forks in the child and draws that child's fork salt. Called
/// by module initialisation; installs once per process.
void watch_forks();

/// Where the key of an object's random stream came from, and the rekeying it owes a forked
/// child.
struct StreamOrigin {
  static constexpr uint32_t kSeeded = UINT32_MAX;

  /// kSeeded for a stream fixed by a seed, which keeps its draws in a forked child, as the seed
  /// promises; otherwise the fork generation in which the stream was keyed from entropy.
  uint32_t generation = kSeeded;

  /// The origin of a stream made from `seed`, or from entropy when there is none.
  static StreamOrigin of_seed(std::optional<uint64_t> seed) {
    return {seed ? kSeeded : fork_generation()};
  }

  /// In a forked child, rekeys an entropy-keyed `rng` inherited from an ancestor: the new key is
  /// the stream's next eight words XOR the child's fork salt. Parent and children thus draw
  /// independent streams, while copies made with copy_rng before the rekey rekey alike and keep
  /// drawing what their source draws. Call with the object claimed exclusively.
  void refresh(ChaCha8Rng& rng);
};

}  // namespace velkor::bindings
