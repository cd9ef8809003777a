// What each box writes, in the order the page writes it, by the table layout the
// forest chose: the writer, the size pass and the planner of pieces all go through
// these, so that the page has one set of rules. The bytes come from BoxMarkup.
#pragma once

#include <cstdint>

#include "base/output.h"
#include "html/markup.h"
#include "platform/memory.h"
#include "treemap/box.h"

namespace qv {

// A short last row under full rows: its last cell spans the missing columns.
inline std::uint32_t lastCellSpan(std::uint32_t count, std::uint32_t cols) {
  const std::uint32_t lastRow = count % cols;
  return count > cols && lastRow != 0 ? cols - lastRow + 1 : 1;
}

// The box up to its children (see BoxMarkup::writeBoxBegin).
template <class Out>
void writeBoxBegin(Out& out, const BoxMarkup& markup, const BoxForest& forest, NodeIndex box,
                   std::size_t depth) {
  markup.writeBoxBegin(out, forest.isGrid(box), forest.boName(box), forest.boId(box, depth), depth);
}

// Cell j of a grid at depth, opened and closed around the child's box, with the row
// it begins or ends; last says it is the grid's last cell.
template <class Out>
void writeCellBegin(Out& out, const BoxMarkup& markup, std::uint32_t j, bool last,
                    std::uint32_t cols, std::size_t depth) {
  if (j % cols == 0) markup.write(out, BoxPart::RowOpen, depth);
  const std::uint32_t span = last ? lastCellSpan(j + 1, cols) : 1;
  if (span == 1) {
    markup.write(out, BoxPart::CellOpen, depth);
  } else {
    BoxMarkup::writeSpanningCell(out, span, depth);
  }
}

template <class Out>
void writeCellEnd(Out& out, const BoxMarkup& markup, std::uint32_t j, bool last, std::uint32_t cols,
                  std::size_t depth) {
  markup.write(out, BoxPart::CellClose, depth);
  if ((j + 1) % cols == 0 || last) markup.write(out, BoxPart::RowClose, depth);
}

// renderBox: the box at depth and everything inside it.
void renderBox(Output& out, const BoxMarkup& markup, const BoxForest& forest, NodeIndex box,
               std::size_t depth);

}  // namespace qv
