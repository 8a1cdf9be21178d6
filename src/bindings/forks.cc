#include "bindings/forks.h"

#include <pthread.h>
#include <sys/random.h>

#include <array>
#include <atomic>
#include <mutex>

namespace velkor::bindings {
namespace {

std::atomic<uint32_t> generation{0};
std::array<uint32_t, 8> salt{};

// Runs in the child right after fork, where only async-signal-safe calls are allowed.
void count_fork_in_child() {
  generation.fetch_add(1, std::memory_order_relaxed);
  // Should the entropy source fail, the child keeps its parent's salt: children forked at the
  // same point of a stream would then rekey alike, which only a broken system can cause.
  (void)getrandom(salt.data(), sizeof salt, 0);
}

}  // namespace

uint32_t fork_generation() { return generation.load(std::memory_order_relaxed); }

void watch_forks() {
  static std::once_flag installed;
  std::call_once(installed, [] { pthread_atfork(nullptr, nullptr, count_fork_in_child); });
}

void StreamOrigin::refresh(ChaCha8Rng& rng) {
  uint32_t now = fork_generation();
  if (generation == kSeeded || generation == now) return;
  std::array<uint32_t, 8> key;
  for (size_t i = 0; i < key.size(); ++i) key[i] = rng.next_u32() ^ salt[i];
  rng = ChaCha8Rng::from_key(key);
  generation = now;
}

}  // namespace velkor::bindings
