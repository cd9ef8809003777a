// The treemap layout: every node with children gets one table of its child boxes,
// ordered by size, with the column count that makes it closest to square. Sizes
// are estimates in text units that only decide order and columns.
#pragma once

#include <cfloat>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "tree/label.h"
#include "tree/tree.h"
#include "treemap/box.h"

namespace qv {

// The column choice and the cell order rest on float and double arithmetic rounded
// at every step: evaluated wider (32-bit x86's x87 unit keeps 80 bits), ratios of
// equal tables compare unequal and halves stop being halves, and the same document
// lays out differently from one machine to the next.
static_assert(FLT_EVAL_METHOD == 0,
              "the layout needs float and double arithmetic without excess precision "
              "(FLT_EVAL_METHOD 0): on 32-bit x86, compile with -msse2 -mfpmath=sse");

// x converted to T and rounded to T's precision. A cast or an assignment should do
// that, but a compiler that keeps wider intermediates may skip it (GCC's C++ on the
// x87 unit does, casts or not); a volatile variable is stored at T's width before it
// is read back. The layout compares only values that went through this.
template <typename T, typename U>
T storedAs(U x) {
  volatile T stored = static_cast<T>(x);
  return stored;
}

// A box's estimated size on screen: characters across, lines down. All size
// arithmetic saturates at 2147483647, so sizes never go negative.
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
// Cells cut row-major into rows of cols: widest row by summed row heights; no cells
// measure (0, 0). Throws a program error for cols below 1 with cells.
BoxSize tableSize(std::int32_t cols, std::span<const BoxSize> cells);
// A grid box: as wide as the widest of its name and table, as high as 1.3 times its
// name lines plus the table's height, rounded half to even.
BoxSize boxSize(BoxSize name, BoxSize table);
// min/max of the two sides in 32-bit float: 1 is square; (0, 0) counts as square.
inline float aspectRatio(BoxSize size) {
  // Only empty names measure (0, 0); calling that square keeps NaN out of the choice.
  if (size.width == 0 && size.height == 0) return 1.0f;
  const float w = storedAs<float>(size.width), h = storedAs<float>(size.height);
  return storedAs<float>(size.height > size.width ? w / h : h / w);
}
// The column count from 1 to maxTableCols whose table (tableSize) is closest to
// square; the fewest columns among equals. The cells are sorted by height, as
// mkTableBox sorts them.
std::int32_t chooseCols(std::span<const BoxSize> cells);
// Orders the cells of one table by height, then width, then given order: order gets
// positions into sizes, sorted the sizes in that order. Returns chooseCols(sorted).
std::int32_t mkTableBox(std::span<const BoxSize> sizes, std::vector<std::uint32_t>& order,
                        std::vector<BoxSize>& sorted);
// Lays out the whole tree: box i is tree node i; a node without children becomes a
// leaf, any other a grid whose table (mkTableBox) holds its children's boxes. The
// forest keeps the tree, whose labels are the boxes' labels (boName). Disjoint
// subtrees are laid out on `workers` threads (0: the calling thread alone).
BoxForest treeMapLBox(std::shared_ptr<const LabelTree> tree, unsigned workers = 0);

}  // namespace qv
