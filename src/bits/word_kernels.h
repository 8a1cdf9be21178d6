#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velkor {

/// Passes over a contiguous array of one-word or two-word rows, the shape of the affine rows and
/// the pivot directions while there are at most 64 or 128 path variables. Each comes in a portable
/// and, where the processor has it, an AVX2 version that give the same words.
struct WordKernels {
  /// For count <= 64 words: parity(word . filter), word i at bit i.
  uint64_t (*odd_overlaps)(const uint64_t* words, size_t count, uint64_t filter);
  /// For every word with parity(word . filter) odd, word ^= add. Any count.
  void (*fold)(uint64_t* words, size_t count, uint64_t filter, uint64_t add);
  /// The same two passes over contiguous two-word rows (up to 128 path variables): `count` rows,
  /// `add` and `filter` of two words.
  uint64_t (*odd_overlaps2)(const uint64_t* rows, size_t count, const uint64_t* filter);
  void (*fold2)(uint64_t* rows, size_t count, const uint64_t* filter, const uint64_t* add);
  /// Clears bit p in `count` rows of `stride` words each (any stride; one and two words are
  /// vectorised).
  void (*clear_bit)(uint64_t* words, size_t count, size_t stride, size_t p);
};

/// Every kernel set this processor runs, portable first, fastest last.
std::vector<WordKernels> available_word_kernels();

/// The fastest kernel set this processor runs.
const WordKernels& word_kernels();

}  // namespace velkor
