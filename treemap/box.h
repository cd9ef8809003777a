// The box model: a laid-out tree as nested boxes, and the colours they are drawn in.
//
// A box is a leaf (BoxText: a name and an id) or a grid (BoxGrid: a name, an id and
// a table of child boxes in row-major order with tbCols columns). Laid-out trees
// hold millions of nodes and nest a million deep, so they are stored flat: one
// record per box, in the pre-order of the tree they were laid out from, and one
// array of the cells of every table. Built once by the layout, then only read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tree/label.h"
#include "tree/memory.h"

namespace qv {

using BoxIndex = std::uint32_t;

struct Box {
  Label boName;
  std::int32_t boId = 0;
  std::int32_t tbCols = 0;       // 0 for a leaf
  std::uint32_t cellBegin = 0;   // the table's cells are cells[cellBegin, +cellCount)
  std::uint32_t cellCount = 0;   // 0 for a leaf
  bool isGrid() const { return cellCount != 0; }
};

class BoxForest {
 public:
  BoxForest() = default;
  BoxForest(LargeVector<Box> boxes, LargeVector<BoxIndex> cells,
            std::shared_ptr<const void> storage)
      : boxes_(std::move(boxes)), cells_(std::move(cells)), storage_(std::move(storage)) {}

  static constexpr BoxIndex root() { return 0; }
  std::size_t size() const { return boxes_.size(); }
  const Box& box(BoxIndex n) const { return boxes_[n]; }
  // tbCels of a grid, in row-major order.
  std::span<const BoxIndex> tbCels(const Box& b) const { return {cells_.data() + b.cellBegin, b.cellCount}; }

 private:
  LargeVector<Box> boxes_;
  LargeVector<BoxIndex> cells_;
  std::shared_ptr<const void> storage_;  // what the names point into
};

// Fill colours: leaves get toLeafColor; grid boxes take toAltColors in turn by depth.
struct TreeMapOptions {
  std::string toLeafColor;
  std::vector<std::string> toAltColors;
};

// "white" leaves; grids "yellow", "orange", "#9ACD32", "#FFD700", "#FF6347" by depth.
TreeMapOptions defaultTreeOpts();

}  // namespace qv
