#include "tree/tree.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/labels.h"

namespace qv {
namespace {

// Writes a tree as label(child,child...) so shapes compare as text.
std::string shape(const Tree<std::string>& t) {
  std::string out = t.label(0);
  std::vector<std::pair<NodeIndex, NodeIndex>> stack;  // next child, end of parent
  if (!t.isLeaf(0)) {
    out += "(";
    stack.push_back({1, t.subtreeSize(0)});
  }
  while (!stack.empty()) {
    auto& [next, end] = stack.back();
    if (next == end) {
      out += ")";
      stack.pop_back();
      continue;
    }
    const NodeIndex n = next;
    if (out.back() != '(') out += ",";
    out += t.label(n);
    next += t.subtreeSize(n);
    if (!t.isLeaf(n)) {
      out += "(";
      stack.push_back({n + 1, n + t.subtreeSize(n)});
    }
  }
  return out;
}

TEST(Tree, BuilderKeepsPreOrderAndChildOrder) {
  TreeBuilder<std::string> b;
  b.open("r");
  b.open("a");
  b.leaf("a1");
  b.leaf("a2");
  b.close();
  b.leaf("b");
  b.open("c");
  b.leaf("c1");
  auto t = std::move(b).finish();  // closes c and r
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(t.subtreeSize(0), 7u);
  std::vector<std::string> rootChildren;
  for (NodeIndex c : t.children(0)) rootChildren.push_back(t.label(c));
  EXPECT_EQ(rootChildren, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(qvtest::childCount(t, 1), 2u);
  EXPECT_TRUE(t.isLeaf(4));
  EXPECT_EQ(qvtest::childCount(t, 4), 0u);
  EXPECT_EQ(shape(t), "r(a(a1,a2),b,c(c1))");
}

TEST(Tree, MillionDeepChainBuildsWalksAndDestroysWithoutRecursion) {
  constexpr int kDepth = 1000000;
  TreeBuilder<int> b;
  for (int i = 0; i < kDepth; ++i) b.open(i);
  auto t = std::move(b).finish();
  ASSERT_EQ(t.size(), static_cast<std::size_t>(kDepth));
  NodeIndex n = 0;
  int depth = 1;
  while (!t.isLeaf(n)) {
    n = *t.children(n).begin();
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(t.label(n), kDepth - 1);
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

// A tree keeps each label's place, size and form, a size past 32 bits included (no
// character of the long ones is ever read here).
TEST(Tree, LabelsKeepTheirPlaceSizeAndForm) {
  static const char text[] = "narrow";
  static const char16_t half[] = u"\u03C0";
  static const char32_t codes[] = U"\U0001F600";
  using F = Label::Form;
  struct Case {
    const void* data;
    std::size_t size;
    F form;
  };
  // The largest sizes kept in 32 bits with their form, and the first ones kept aside.
  std::vector<Case> cases = {{text, 6, F::Narrow},           {half, 1, F::Wide16},
                             {codes, 1, F::Wide32},          {text, 0, F::Narrow},
                             {text, 0x7FFFFFFF, F::Narrow},  {half, 0x3FFFFFFE, F::Wide16},
                             {codes, 0x3FFFFFFE, F::Wide32}, {half, 0x3FFFFFFF, F::Wide16},
                             {codes, 0x3FFFFFFF, F::Wide32}};
  // A 32-bit Label holds sizes below 2^31 only, 2^30 wide.
  if constexpr (sizeof(std::size_t) > 4) {
    const std::uint64_t longSizes[] = {0x40000000, 0x80000000, 0xFFFFFFFF, 5000000000};
    for (const std::uint64_t size : longSizes) {
      cases.push_back({text, static_cast<std::size_t>(size), F::Narrow});
      cases.push_back({half, static_cast<std::size_t>(size), F::Wide16});
      cases.push_back({codes, static_cast<std::size_t>(size), F::Wide32});
    }
  }
  TreeBuilder<Label> b;
  b.open("root");
  for (const Case& c : cases) b.leaf(Label(c.data, c.size, c.form));
  const LabelTree t = std::move(b).finish();
  for (NodeIndex n = 1; n < t.size(); ++n) {
    const Case& c = cases[n - 1];
    const Label l = t.label(n);
    EXPECT_EQ(l.data(), c.data) << n;
    EXPECT_EQ(l.size(), c.size) << n;
    EXPECT_EQ(l.form(), c.form) << n;
  }
}

}  // namespace
}  // namespace qv
