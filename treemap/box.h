// The box model: a laid-out tree as nested boxes (leaves, and grids holding a
// table of child boxes), stored flat beside the label tree at five bytes a box.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/memory.h"
#include "tree/label.h"
#include "tree/numbering.h"
#include "tree/tree.h"

namespace qv {

class BoxForest {
 public:
  // The cells of a grid, in row-major order.
  class Cells {
   public:
    class Iterator {
     public:
      Iterator() = default;
      Iterator(const BoxForest* f, NodeIndex child) : f_(f), child_(child) {}
      NodeIndex operator*() const { return f_->cells_[child_]; }
      Iterator& operator++() {
        child_ += f_->tree_->subtreeSize(child_);
        return *this;
      }
      bool operator==(const Iterator& o) const { return child_ == o.child_; }

     private:
      const BoxForest* f_ = nullptr;
      NodeIndex child_ = 0;
    };
    Iterator begin() const { return {f_, first_}; }
    Iterator end() const { return {f_, end_}; }

   private:
    friend class BoxForest;
    Cells(const BoxForest* f, NodeIndex first, NodeIndex end) : f_(f), first_(first), end_(end) {}
    const BoxForest* f_;
    NodeIndex first_, end_;
  };

  BoxForest() = default;
  // cells[c] is the box at the position, in its parent's table, of the child c has
  // in document order; cols[g] the column count of grid g's table (0 for leaves).
  // The tree is shared: while the page is laid out and measured, the drawing of the
  // same tree goes on.
  BoxForest(std::shared_ptr<const LabelTree> tree, LargeVector<NodeIndex> cells,
            LargeVector<std::uint8_t> cols)
      : tree_(std::move(tree)), cells_(std::move(cells)), cols_(std::move(cols)) {}

  static constexpr NodeIndex root() { return 0; }
  std::size_t size() const { return tree_->size(); }
  // The label tree the forest was laid out from: box i is its node i.
  const LabelTree& tree() const { return *tree_; }
  // The label box b shows: its node's label (a text node's text, not a name).
  Label boName(NodeIndex b) const { return tree_->label(b); }
  bool isGrid(NodeIndex b) const { return !tree_->isLeaf(b); }
  // The number of columns of grid b's children table (0 for a leaf).
  std::int32_t tbCols(NodeIndex b) const { return cols_[b]; }
  // The cells of grid b's children table, each holding one child's box.
  Cells tbCels(NodeIndex b) const { return Cells(this, b + 1, b + tree_->subtreeSize(b)); }
  // The id of box b at depth d (the root has depth 0): its node's number.
  std::int32_t boId(NodeIndex b, std::size_t depth) const { return tree2ltree(*tree_, b, depth); }

 private:
  std::shared_ptr<const LabelTree> tree_;
  LargeVector<NodeIndex> cells_;
  LargeVector<std::uint8_t> cols_;
};

// Fill colours: leaves get toLeafColor; grid boxes take toAltColors in turn by depth.
struct TreeMapOptions {
  std::string toLeafColor;
  std::vector<std::string> toAltColors;
};

// "white" leaves; grids "yellow", "orange", "#9ACD32", "#FFD700", "#FF6347" by depth.
TreeMapOptions defaultTreeOpts();

}  // namespace qv
