#pragma once

#include <atomic>
#include <cstdint>

namespace velkor::bindings {

/// How a method uses the object it is called on.
enum class Access { kShared, kExclusive };

/// The claims held on one Python object: any number of shared claims or one exclusive claim.
/// Built on one atomic word, so it holds in a free-threaded interpreter; a conflicting claim
/// fails at once instead of waiting.
class Claims {
 public:
  /// Takes a claim. On conflict sets RuntimeError ("Already borrowed" for an exclusive claim,
  /// "Already mutably borrowed" for a shared one meeting an exclusive claim) and returns false.
  bool acquire(Access access);
  void release(Access access);

 private:
  static constexpr int64_t kExclusive = -1;
  std::atomic<int64_t> holders_{0};  // number of shared claims, or kExclusive
};

/// A claim held for the life of the guard. Test it after construction: false means the claim
/// failed and a Python error is set.
class ClaimGuard {
 public:
  ClaimGuard(Claims& claims, Access access)
      : claims_(claims), access_(access), held_(claims.acquire(access)) {}
  ~ClaimGuard() {
    if (held_) claims_.release(access_);
  }
  ClaimGuard(const ClaimGuard&) = delete;
  ClaimGuard& operator=(const ClaimGuard&) = delete;

  explicit operator bool() const { return held_; }

 private:
  Claims& claims_;
  Access access_;
  bool held_;
};

}  // namespace velkor::bindings
