#include "bits/bitvec.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace velkor {
namespace {

BitVec from_bits(std::initializer_list<int> bits) {
  BitVec v = BitVec::zeros(bits.size());
  size_t i = 0;
  for (int b : bits) v.set(i++, b);
  return v;
}

TEST(BitVec, EqualityAndHashDependOnLengthAndBits) {
  BitVec u = BitVec::unit(65, 64);
  ASSERT_EQ(u.num_words(), 2u);
  EXPECT_EQ(u.words()[1], 1u);
  BitVec a = BitVec::unit(3, 0), b = BitVec::unit(4, 0);
  EXPECT_NE(a, b);
  std::unordered_set<BitVec, BitVecHash> set{a, b, BitVec::unit(3, 0), BitVec::zeros(0)};
  EXPECT_EQ(set.size(), 3u);
  EXPECT_EQ(BitVec::zeros(0).num_words(), 0u);
}

TEST(BitVec, ResizeKeepsTailClear) {
  BitVec v = BitVec::unit(3, 2);
  v.resize(64);
  EXPECT_EQ(v.num_words(), 1u);
  v.resize(65);
  EXPECT_EQ(v.num_words(), 2u);
  EXPECT_EQ(v.words()[1], 0u);
  EXPECT_EQ(v.ones(), std::vector<size_t>{2});
  BitVec w = BitVec::from_words(std::vector<uint64_t>{~uint64_t{0}}, 5);
  EXPECT_EQ(w.words()[0], 31u);
}

TEST(BitVec, RemoveBit) {
  EXPECT_EQ(from_bits({1, 0, 1}).remove_bit(0), from_bits({0, 1}));
  EXPECT_EQ(from_bits({1, 0, 1}).remove_bit(1), from_bits({1, 1}));
  EXPECT_EQ(from_bits({1}).remove_bit(0), BitVec::zeros(0));
  // Across a word boundary: bit 64 moves into word 0, bit 130 to 129.
  BitVec v = BitVec::zeros(131);
  v.set(3, true);
  v.set(64, true);
  v.set(130, true);
  BitVec r = v.remove_bit(10);
  EXPECT_EQ(r.len(), 130u);
  EXPECT_EQ(r.ones(), (std::vector<size_t>{3, 63, 129}));
  BitVec r2 = BitVec::unit(65, 64).remove_bit(0);
  EXPECT_EQ(r2, BitVec::unit(64, 63));
}

TEST(BitVec, SearchAndParity) {
  EXPECT_FALSE(BitVec::zeros(100).first_one().has_value());
  EXPECT_EQ(BitVec::unit(130, 129).first_one(), 129u);
  BitVec hi = BitVec::zeros(128);
  hi.set(100, true);
  hi.set(70, true);
  EXPECT_EQ(hi.ones(), (std::vector<size_t>{70, 100}));
  EXPECT_TRUE(BitVec::zeros(10).ones().empty());
  BitVec a = from_bits({1, 1, 1, 0}), b = from_bits({1, 0, 1, 1});
  EXPECT_FALSE(a.dot(b));
  b.set(1, true);
  EXPECT_TRUE(a.dot(b));
}

TEST(BitVec, ToIndex) {
  BitVec v = from_bits({1, 0, 0});
  EXPECT_EQ(v.to_index(Endian::kLittle), 1u);
  EXPECT_EQ(v.to_index(Endian::kBig), 4u);
  EXPECT_EQ(BitVec::unit(64, 0).to_index(Endian::kBig), uint64_t{1} << 63);
}

}  // namespace
}  // namespace velkor
