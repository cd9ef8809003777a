#include "tree/label.h"

#include <gtest/gtest.h>

#include "tests/labels.h"

namespace qv {
namespace {

using qvtest::toBytes;

TEST(Label, ArenaCopiesSurviveManyBlocks) {
  TextArena arena;
  std::vector<Label> labels;
  const std::string big(3 << 20, 'x');  // larger than one block
  labels.push_back(arena.add(big));
  for (int i = 0; i < 100000; ++i) labels.push_back(arena.add(std::to_string(i)));
  labels.push_back(arena.add(std::u32string_view(U"\U0010FFFFz")));
  EXPECT_EQ(toBytes(labels[0]), big);
  for (int i = 0; i < 100000; i += 997) EXPECT_EQ(toBytes(labels[i + 1]), std::to_string(i));
  EXPECT_TRUE(labels.back().wide());
  EXPECT_EQ(toU32(labels.back()), U"\U0010FFFFz");
  EXPECT_TRUE(arena.add(std::string_view()).empty());
}

}  // namespace
}  // namespace qv
