#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace velkor {

/// Passes over a contiguous array of one-word or two-word rows, the shape of the affine rows and
/// the pivot directions while there are at most 64 or 128 path variables. Each comes in a portable
/// and, where the processor has it, an AVX2 version that give the same words.
struct WordKernels {
  /// For count <= 64 words: a word with bit p set gets `add` XORed in; every word then drops bit
  /// p (bits above move down one). Returns the words that held bit p, word i at bit i.
  uint64_t (*substitute)(uint64_t* words, size_t count, uint64_t add, size_t p);
  /// For count <= 64 words: parity(word . filter), word i at bit i.
  uint64_t (*odd_overlaps)(const uint64_t* words, size_t count, uint64_t filter);
  /// For every word with parity(word . filter) odd, word ^= add; then, when p < 64, every word
  /// drops bit p. Any count.
  void (*fold)(uint64_t* words, size_t count, uint64_t filter, uint64_t add, size_t p);
  /// The same three passes over contiguous two-word rows (up to 128 path variables): `count`
  /// rows, `add` and `filter` of two words, bit p < 128 (fold: p >= 128 drops nothing).
  uint64_t (*substitute2)(uint64_t* rows, size_t count, const uint64_t* add, size_t p);
  uint64_t (*odd_overlaps2)(const uint64_t* rows, size_t count, const uint64_t* filter);
  void (*fold2)(uint64_t* rows, size_t count, const uint64_t* filter, const uint64_t* add,
                size_t p);
};

/// Every kernel set this processor runs, portable first, fastest last.
std::vector<WordKernels> available_word_kernels();

/// The fastest kernel set this processor runs.
const WordKernels& word_kernels();

}  // namespace velkor
