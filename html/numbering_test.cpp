#include "html/numbering.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/error.h"

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

// "label=number" of every node in pre-order (first child first).
std::vector<std::string> numbers(const Tree<std::pair<std::int32_t, std::string>>& t) {
  std::vector<std::string> out;
  for (const auto& [n, label] : t.labels()) out.push_back(label + "=" + std::to_string(n));
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
  for (const Case& c : cases) {
    const Tree<std::string> t = parse(c.tree);
    const auto n = tree2ltree(t);
    EXPECT_EQ(numbers(n), c.numbered) << c.tree;
    EXPECT_EQ(n.sizes(), t.sizes()) << c.tree;
  }
}

TEST(Numbering, KeepsTheLabelStorageOfTheNameTree) {
  auto arena = std::make_shared<TextArena>();
  TreeBuilder<Label> b;
  b.open(arena->add("root"));
  b.leaf(arena->add("leaf"));
  const NameTree t = std::move(b).finish(arena);
  const NumberedTree n = tree2ltree(t);
  EXPECT_EQ(n.storage(), t.storage());
  EXPECT_EQ(n.label(1).second.narrow().data(), t.label(1).narrow().data());
  EXPECT_EQ(n.label(1).first, 2);
}

TEST(Numbering, MillionDeepChainAndMillionWideRootNumberInOnePass) {
  constexpr int kNodes = 1000000;
  TreeBuilder<int> deep;
  for (int i = 0; i < kNodes; ++i) deep.open(i);
  const auto d = tree2ltree(std::move(deep).finish());
  TreeBuilder<int> wide;
  wide.open(-1);
  for (int i = 0; i + 1 < kNodes; ++i) wide.leaf(i);
  const auto w = tree2ltree(std::move(wide).finish());
  for (int i = 0; i < kNodes; ++i) {
    ASSERT_EQ(d.label(static_cast<NodeIndex>(i)), std::make_pair(i + 1, i));
  }
  EXPECT_EQ(w.label(0).first, 1);
  for (int i = 1; i < kNodes; ++i) {
    ASSERT_EQ(w.label(static_cast<NodeIndex>(i)).first, kNodes + 1 - i);
  }
}

}  // namespace
}  // namespace qv
