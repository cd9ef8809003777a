// Node numbers: 1 for the root, then the positions of a pre-order walk that visits
// children last to first, computed from where a node is: no numbered copy of the
// tree is ever made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tree/tree.h"

namespace qv {

// The number tree2ltree gives node m at depth d (the root has depth 0). With the
// tree in pre-order, the nodes after m's subtree are exactly the subtrees to the
// right of m and of its ancestors, which the walk numbers before m.
template <class T>
std::int32_t tree2ltree(const Tree<T>& tree, NodeIndex m, std::size_t depth) {
  const std::size_t n = tree.size();
  return static_cast<std::int32_t>(1 + depth + (n - (m + tree.subtreeSize(m))));
}

}  // namespace qv
