#include "bindings/claims.h"

#include <Python.h>

#include "bindings/forks.h"

namespace velkor::bindings {
namespace {

uint64_t pack(uint32_t generation, uint32_t holders) {
  return uint64_t{generation} << 32 | holders;
}

}  // namespace

bool Claims::acquire(Access access, uint32_t& generation) {
  generation = fork_generation();
  uint64_t current = word_.load(std::memory_order_relaxed);
  for (;;) {
    // Claims of an earlier generation died with the parent's threads.
    uint32_t holders =
        static_cast<uint32_t>(current >> 32) == generation ? static_cast<uint32_t>(current) : 0;
    bool conflict = access == Access::kExclusive ? holders != 0 : holders == kExclusive;
    if (conflict) {
      PyErr_SetString(PyExc_RuntimeError, access == Access::kExclusive
                                              ? "Already borrowed"
                                              : "Already mutably borrowed");
      return false;
    }
    uint64_t wanted = pack(generation, access == Access::kExclusive ? kExclusive : holders + 1);
    if (word_.compare_exchange_weak(current, wanted, std::memory_order_acquire,
                                    std::memory_order_relaxed)) {
      return true;
    }
  }
}

void Claims::release(Access access, uint32_t generation) {
  uint64_t current = word_.load(std::memory_order_relaxed);
  for (;;) {
    if (static_cast<uint32_t>(current >> 32) != generation) return;
    uint32_t holders = static_cast<uint32_t>(current);
    uint64_t wanted = pack(generation, access == Access::kExclusive ? 0 : holders - 1);
    if (word_.compare_exchange_weak(current, wanted, std::memory_order_release,
                                    std::memory_order_relaxed)) {
      return;
    }
  }
}

}  // namespace velkor::bindings
