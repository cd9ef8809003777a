// Node numbers: every node of a tree paired with a number unique in the tree.
//
// The root is 1 and a node's children are numbered from the last one backwards,
// each subtree taking consecutive numbers: the numbers are the positions in a
// pre-order walk that visits children last to first. With the tree stored in
// pre-order (first child first), the nodes after a node's subtree are exactly the
// subtrees to the right of it and of its ancestors, so a node's number follows from
// where it is, and no numbered copy of the tree is ever made:
//   number(m) = 1 + depth(m) + (N - (m + subtreeSize(m)))
#pragma once

#include <cstddef>
#include <cstdint>

#include "tree/tree.h"

namespace qv {

// The number tree2ltree gives node m at depth d (the root has depth 0).
template <class T>
std::int32_t tree2ltree(const Tree<T>& tree, NodeIndex m, std::size_t depth) {
  const std::size_t n = tree.size();
  return static_cast<std::int32_t>(1 + depth + (n - (m + tree.subtreeSize(m))));
}

}  // namespace qv
