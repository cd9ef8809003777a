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
