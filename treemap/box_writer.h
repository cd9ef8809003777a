// What each box writes, in the order the page writes it, by the table layout the
// forest chose: the writer, the size pass and the planner of pieces all go through
// these, so that the page has one set of rules. The bytes come from BoxMarkup.
#pragma once

#include <cstdint>
#include <optional>

#include "base/output.h"
#include "html/markup.h"
#include "treemap/box.h"

namespace qv {

// The box up to its children (see BoxMarkup::writeBoxBegin).
template <class Out>
void writeBoxBegin(Out& out, const BoxMarkup& markup, const BoxForest& forest, NodeIndex box,
                   std::size_t depth) {
  markup.writeBoxBegin(out, forest.isGrid(box), forest.boName(box), forest.boId(box, depth), depth);
}

// A grid's children table, cell by cell: the one walk of a grid's cells. Each step
// writes what stands between two cells' boxes and returns the next cell's box.
class CellWalk {
 public:
  CellWalk() = default;
  CellWalk(const BoxForest& forest, NodeIndex grid, std::uint32_t depth)
      : next_(forest.tbCels(grid).begin()),
        end_(forest.tbCels(grid).end()),
        cols_(static_cast<std::uint32_t>(forest.tbCols(grid))),
        depth_(depth) {}

  // The grid's depth; its cells' boxes are one deeper.
  std::uint32_t depth() const { return depth_; }
  // The box the next step opens a cell for; none past the last cell.
  std::optional<NodeIndex> nextBox() const {
    return next_ == end_ ? std::nullopt : std::optional<NodeIndex>(*next_);
  }
  // Closes the cell before (and its row, where it ends one), then opens the next
  // cell (and its row) and returns its box; past the last cell, closes the table
  // and returns none.
  template <class Out>
  std::optional<NodeIndex> step(Out& out, const BoxMarkup& markup) {
    if (begun_ > 0) writeCellEnd(out, markup);
    if (next_ == end_) {
      markup.write(out, BoxPart::GridClose, depth_);
      return std::nullopt;
    }
    const NodeIndex box = *next_;
    ++next_;
    writeCellBegin(out, markup);
    ++begun_;
    return box;
  }

 private:
  bool lastBegun() const { return next_ == end_; }
  template <class Out>
  void writeCellBegin(Out& out, const BoxMarkup& markup) const {
    if (begun_ % cols_ == 0) markup.write(out, BoxPart::RowOpen, depth_);
    // A short last row under full rows: its last cell spans the missing columns.
    const std::uint32_t count = begun_ + 1, lastRow = count % cols_;
    const bool spans = lastBegun() && count > cols_ && lastRow != 0;
    if (spans) {
      BoxMarkup::writeSpanningCell(out, cols_ - lastRow + 1, depth_);
    } else {
      markup.write(out, BoxPart::CellOpen, depth_);
    }
  }
  template <class Out>
  void writeCellEnd(Out& out, const BoxMarkup& markup) const {
    markup.write(out, BoxPart::CellClose, depth_);
    if (begun_ % cols_ == 0 || lastBegun()) markup.write(out, BoxPart::RowClose, depth_);
  }

  BoxForest::Cells::Iterator next_, end_;
  std::uint32_t begun_ = 0;  // cells opened so far
  std::uint32_t cols_ = 1;
  std::uint32_t depth_ = 0;
};

// renderBox: the box at depth and everything inside it.
void renderBox(Output& out, const BoxMarkup& markup, const BoxForest& forest, NodeIndex box,
               std::uint32_t depth);

}  // namespace qv
