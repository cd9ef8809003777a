// The treemap layout: a numbered tree becomes a Box tree in which every node with
// children holds one table of its child boxes, ordered by size and given the column
// count that makes the table closest to square.
//
// Sizes estimate a box on screen in text units (characters across, lines down); they
// only decide cell order and column counts and are never written out. All size
// arithmetic saturates at 2147483647, so sizes never go negative.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tree/label.h"
#include "tree/tree.h"
#include "treemap/box.h"

namespace qv {

struct BoxSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
  friend bool operator==(BoxSize, BoxSize) = default;
};

inline constexpr std::int32_t maxTableCols = 50;
// A grid box's lines are scaled by this, held as a double.
inline constexpr double gridHeightScale = 1.3;

// Longest line and number of lines, split at line feeds (a final one starts no line);
// the empty text is (0, 0). Every character counts as one, whatever its code.
BoxSize textSize(Label text);
// A leaf measures its name; a grid is as wide as the widest of its name and tables and
// as high as 1.3 times its name lines plus table heights, rounded half to even.
BoxSize boxSize(const Box& box);
// Cells cut row-major into rows of tbCols: widest row by summed row heights.
// Throws a program error for a tbCols below 1 with cells.
BoxSize tableSize(const TableBox& table);
// min/max of the two sides in 32-bit float: 1 is square; (0, 0) counts as square.
float aspectRatio(BoxSize size);
// The column count from 1 to maxTableCols whose table is closest to square; the
// fewest columns among equals.
std::int32_t chooseCols(const std::vector<Box>& cells);
// The cells sorted by height, then width, then given order, in the chosen columns.
TableBox mkTableBox(const std::vector<Box>& boxes);
// Lays out the whole tree: a node without children becomes a BoxText, any other a
// BoxGrid with one table (mkTableBox) of its children's boxes. Ids and names are the
// tree's; the result keeps tree.storage() alive and copies no label.
Box treeMapLBox(const NumberedTree& tree);

}  // namespace qv
