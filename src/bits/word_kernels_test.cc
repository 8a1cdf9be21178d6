#include "bits/word_kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace velkor {
namespace {

// Every kernel set gives the words and masks of the portable one, for one-word and two-word
// rows, at every count around the vector width and at every dropped bit, including none (64 or
// 128) for fold.
TEST(WordKernels, EveryKernelSetMatchesThePortableOne) {
  std::mt19937_64 random(3);
  std::vector<WordKernels> sets = available_word_kernels();
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<uint64_t> words(64);
    for (uint64_t& w : words) w = random() & (random() | random());
    uint64_t filter = random(), add = random();
    for (size_t count : {0, 1, 3, 4, 5, 8, 31, 63, 64}) {
      for (size_t p : {0, 1, 31, 63, 64}) {
        std::vector<uint64_t> want_sub = words, want_fold = words;
        uint64_t held = p < 64 ? sets[0].substitute(want_sub.data(), count, add, p) : 0;
        uint64_t odd = sets[0].odd_overlaps(words.data(), count, filter);
        sets[0].fold(want_fold.data(), count, filter, add, p);
        for (size_t k = 1; k < sets.size(); ++k) {
          std::vector<uint64_t> sub = words, fold = words;
          if (p < 64) {
            EXPECT_EQ(sets[k].substitute(sub.data(), count, add, p), held) << k;
            EXPECT_EQ(sub, want_sub) << k << " " << count << " " << p;
          }
          EXPECT_EQ(sets[k].odd_overlaps(words.data(), count, filter), odd) << k;
          sets[k].fold(fold.data(), count, filter, add, p);
          EXPECT_EQ(fold, want_fold) << k << " " << count << " " << p;
        }
      }
    }
  }
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<uint64_t> rows(128);
    for (uint64_t& w : rows) w = random() & (random() | random());
    uint64_t filter[2] = {random(), random()}, add[2] = {random(), random()};
    for (size_t count : {0, 1, 2, 3, 4, 31, 63, 64}) {
      for (size_t p : {0, 1, 63, 64, 65, 127, 128}) {
        std::vector<uint64_t> want_sub = rows, want_fold = rows;
        uint64_t held = p < 128 ? sets[0].substitute2(want_sub.data(), count, add, p) : 0;
        uint64_t odd = sets[0].odd_overlaps2(rows.data(), count, filter);
        sets[0].fold2(want_fold.data(), count, filter, add, p);
        for (size_t k = 1; k < sets.size(); ++k) {
          std::vector<uint64_t> sub = rows, fold = rows;
          if (p < 128) {
            EXPECT_EQ(sets[k].substitute2(sub.data(), count, add, p), held) << k;
            EXPECT_EQ(sub, want_sub) << k << " " << count << " " << p;
          }
          EXPECT_EQ(sets[k].odd_overlaps2(rows.data(), count, filter), odd) << k;
          sets[k].fold2(fold.data(), count, filter, add, p);
          EXPECT_EQ(fold, want_fold) << k << " " << count << " " << p;
        }
      }
    }
  }
  // The portable two-word drop against a plain bit-by-bit one.
  std::vector<uint64_t> row = {0x8000000000000005, 0x3};
  uint64_t none[2] = {0, 0};
  sets[0].fold2(row.data(), 1, none, none, 1);
  EXPECT_EQ(row, (std::vector<uint64_t>{0xC000000000000003, 0x1}));
  EXPECT_EQ(sets[0].odd_overlaps(std::vector<uint64_t>{7, 3}.data(), 2, 5), 2u);
}

}  // namespace
}  // namespace velkor
