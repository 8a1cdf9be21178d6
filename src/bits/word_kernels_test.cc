#include "bits/word_kernels.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace velkor {
namespace {

// Every kernel set gives the words and masks of the portable one, for one-word and two-word
// rows, at every count around the vector width.
TEST(WordKernels, EveryKernelSetMatchesThePortableOne) {
  std::mt19937_64 random(3);
  std::vector<WordKernels> sets = available_word_kernels();
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<uint64_t> words(192);  // room for 64 rows of up to three words
    for (uint64_t& w : words) w = random() & (random() | random());
    uint64_t filter[2] = {random(), random()}, add[2] = {random(), random()};
    for (size_t count : {0, 1, 2, 3, 4, 5, 8, 31, 63, 64}) {
      std::vector<uint64_t> want1 = words, want2 = words;
      uint64_t odd1 = sets[0].odd_overlaps(words.data(), count, filter[0]);
      uint64_t odd2 = sets[0].odd_overlaps2(words.data(), count, filter);
      sets[0].fold(want1.data(), count, filter[0], add[0]);
      sets[0].fold2(want2.data(), count, filter, add);
      for (size_t k = 1; k < sets.size(); ++k) {
        std::vector<uint64_t> got1 = words, got2 = words;
        EXPECT_EQ(sets[k].odd_overlaps(words.data(), count, filter[0]), odd1) << k << " " << count;
        EXPECT_EQ(sets[k].odd_overlaps2(words.data(), count, filter), odd2) << k << " " << count;
        sets[k].fold(got1.data(), count, filter[0], add[0]);
        sets[k].fold2(got2.data(), count, filter, add);
        EXPECT_EQ(got1, want1) << k << " " << count;
        EXPECT_EQ(got2, want2) << k << " " << count;
      }
      for (size_t stride : {1, 2, 3}) {
        size_t p = random() % (64 * stride);
        std::vector<uint64_t> want = words;
        sets[0].clear_bit(want.data(), count, stride, p);
        for (size_t k = 1; k < sets.size(); ++k) {
          std::vector<uint64_t> got = words;
          sets[k].clear_bit(got.data(), count, stride, p);
          EXPECT_EQ(got, want) << k << " " << count << " " << stride << " " << p;
        }
      }
    }
  }
  // The portable passes against plain definitions: 7 & 5 has even parity, 3 & 5 odd.
  std::vector<uint64_t> rows = {7, 3};
  EXPECT_EQ(sets[0].odd_overlaps(rows.data(), 2, 5), 2u);
  sets[0].fold(rows.data(), 2, 5, 1);
  EXPECT_EQ(rows, (std::vector<uint64_t>{7, 2}));
  uint64_t filter[2] = {0, 1}, add[2] = {8, 8};
  sets[0].fold2(rows.data(), 1, filter, add);
  EXPECT_EQ(rows, (std::vector<uint64_t>{7, 2}));
  rows = {0, 3};
  sets[0].fold2(rows.data(), 1, filter, add);
  EXPECT_EQ(rows, (std::vector<uint64_t>{8, 11}));
  rows = {~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}};
  sets[0].clear_bit(rows.data(), 2, 2, 65);
  EXPECT_EQ(rows, (std::vector<uint64_t>{~uint64_t{0}, ~uint64_t{2}, ~uint64_t{0}, ~uint64_t{2}}));
}

}  // namespace
}  // namespace velkor
