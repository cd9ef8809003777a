#include "tree/numbering.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

// Builds a tree from "label(child,child)" text, e.g. "R(A(A1,A2),B,C(C1))".
Tree<std::string> parse(const std::string& s) {
  TreeBuilder<std::string> b;
  std::string name;
  auto flush = [&](bool opens) {
    if (name.empty()) return;
    if (opens) {
      b.open(name);
    } else {
      b.leaf(name);
    }
    name.clear();
  };
  for (char c : s) {
    if (c == '(') {
      flush(true);
    } else if (c == ',' || c == ')') {
      flush(false);
      if (c == ')') b.close();
    } else {
      name += c;
    }
  }
  flush(false);
  return std::move(b).finish();
}

// "label=number" of every node in pre-order (first child first), the depths
// tracked with a stack of the subtree ends of the open ancestors.
template <class T>
std::vector<std::string> numbers(const Tree<T>& t) {
  std::vector<std::string> out;
  std::vector<std::size_t> openEnds;
  for (NodeIndex m = 0; m < t.size(); ++m) {
    while (!openEnds.empty() && openEnds.back() <= m) openEnds.pop_back();
    out.push_back(t.label(m) + "=" + std::to_string(tree2ltree(t, m, openEnds.size())));
    openEnds.push_back(m + t.subtreeSize(m));
  }
  return out;
}

TEST(Numbering, ChildrenAreNumberedFromTheLastOneBackwards) {
  struct Case {
    std::string tree;
    std::vector<std::string> numbered;
  };
  const Case cases[] = {
      {"R", {"R=1"}},
      {"R(L1,L2,L3)", {"R=1", "L1=4", "L2=3", "L3=2"}},
      {"R(A(A1,A2),B,C(C1))", {"R=1", "A=5", "A1=7", "A2=6", "B=4", "C=2", "C1=3"}},
      {"a(b(c(d)))", {"a=1", "b=2", "c=3", "d=4"}},
      {"x(x,x(x,x))", {"x=1", "x=5", "x=2", "x=4", "x=3"}},
  };
  for (const Case& c : cases) EXPECT_EQ(numbers(parse(c.tree)), c.numbered) << c.tree;
}

TEST(Numbering, MillionDeepChainAndMillionWideRootAreNumberedFromTheirPlaces) {
  constexpr NodeIndex kNodes = 1000000;
  TreeBuilder<int> deep;
  for (NodeIndex i = 0; i < kNodes; ++i) deep.open(0);
  const Tree<int> d = std::move(deep).finish();
  TreeBuilder<int> wide;
  wide.open(0);
  for (NodeIndex i = 1; i < kNodes; ++i) wide.leaf(0);
  const Tree<int> w = std::move(wide).finish();
  for (NodeIndex i = 0; i < kNodes; ++i) ASSERT_EQ(tree2ltree(d, i, i), static_cast<int>(i + 1));
  EXPECT_EQ(tree2ltree(w, 0, 0), 1);
  for (NodeIndex i = 1; i < kNodes; ++i) {
    ASSERT_EQ(tree2ltree(w, i, 1), static_cast<int>(kNodes + 1 - i));
  }
}

}  // namespace
}  // namespace qv
