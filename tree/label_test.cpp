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

// Wide text takes two bytes a character up to U+FFFF and four past it; a copy keeps
// the form and every code.
TEST(Label, ArenaStoresWideTextInTheNarrowestFormItsCodesAllow) {
  using F = Label::Form;
  const struct {
    std::u32string_view codes;
    F form;
  } rows[] = {
      {U"\u03C0x", F::Wide16},
      {U"a\uFFFF", F::Wide16},
      {U"\U00010000", F::Wide32},
      {U"x\U0010FFFF\u0100", F::Wide32},
  };
  TextArena arena;
  for (const auto& row : rows) {
    const Label stored = arena.add(row.codes);
    const Label copied = arena.copy(stored);
    for (const Label l : {stored, copied}) {
      EXPECT_EQ(l.form(), row.form);
      EXPECT_EQ(toU32(l), row.codes);
      EXPECT_EQ(l[l.size() - 1], row.codes.back());
    }
    EXPECT_NE(copied.data(), stored.data());
  }
}

}  // namespace
}  // namespace qv
