#pragma once

#include <atomic>
#include <cstdint>

namespace velkor::bindings {

/// How a method uses the object it is called on.
enum class Access { kShared, kExclusive };

/// The claims held on one Python object: any number of shared claims or one exclusive claim.
/// Built on one atomic word, so it holds in a free-threaded interpreter; a conflicting claim
/// fails at once instead of waiting. The word also holds the fork generation (forks.h) of the
/// claims it counts: in a forked child, claims taken before the fork belonged to threads that do
/// not exist there, so they count as released.
class Claims {
 public:
  /// Takes a claim. On conflict sets RuntimeError ("Already borrowed" for an exclusive claim,
  /// "Already mutably borrowed" for a shared one meeting an exclusive claim) and returns false.
  /// On success `generation` is the fork generation to hand back to release.
  bool acquire(Access access, uint32_t& generation);
  /// Gives back a claim taken in `generation`; nothing when a fork has voided it since.
  void release(Access access, uint32_t generation);

 private:
  // High 32 bits: fork generation; low 32 bits: the number of shared claims, or kExclusive.
  static constexpr uint32_t kExclusive = UINT32_MAX;
  std::atomic<uint64_t> word_{0};
};

/// A claim held for the life of the guard. Test it after construction: false means the claim
/// failed and a Python error is set.
class ClaimGuard {
 public:
  ClaimGuard(Claims& claims, Access access)
      : claims_(claims), access_(access), held_(claims.acquire(access, generation_)) {}
  ~ClaimGuard() {
    if (held_) claims_.release(access_, generation_);
  }
  ClaimGuard(const ClaimGuard&) = delete;
  ClaimGuard& operator=(const ClaimGuard&) = delete;

  explicit operator bool() const { return held_; }

 private:
  Claims& claims_;
  Access access_;
  uint32_t generation_ = 0;
  bool held_;
};

}  // namespace velkor::bindings
