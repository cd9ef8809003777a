// Node numbers: every node of a tree paired with a number unique in the tree.
//
// The root is 1 and a node's children are numbered from the last one backwards,
// each subtree taking consecutive numbers: the numbers are the positions in a
// pre-order walk that visits children last to first. With the tree stored in
// pre-order (first child first), the nodes after a node's subtree are exactly the
// subtrees to the right of it and of its ancestors, so
//   number(m) = 1 + depth(m) + (N - (m + subtreeSize(m)))
// which one pass with a stack of open subtree ends computes, however deep.
#pragma once

#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "tree/error.h"
#include "tree/tree.h"

namespace qv {

// The labels paired (number, label); the tree's storage is kept. Fails when the
// last number would not fit in 32 bits.
template <class T>
Tree<std::pair<std::int32_t, T>> tree2ltree(const Tree<T>& tree) {
  const std::size_t n = tree.size();
  if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw Error::program("node numbers past 2147483647");
  }
  LargeVector<std::pair<std::int32_t, T>> labels;
  labels.reserve(n);
  std::vector<std::size_t> openEnds;  // subtree ends of the ancestors of the current node
  for (std::size_t m = 0; m < n; ++m) {
    while (!openEnds.empty() && openEnds.back() <= m) openEnds.pop_back();
    const std::size_t end = m + tree.subtreeSize(static_cast<NodeIndex>(m));
    const std::size_t number = 1 + openEnds.size() + (n - end);
    labels.emplace_back(static_cast<std::int32_t>(number), tree.label(static_cast<NodeIndex>(m)));
    openEnds.push_back(end);
  }
  return Tree<std::pair<std::int32_t, T>>(std::move(labels), tree.sizes(), tree.storage());
}

}  // namespace qv
