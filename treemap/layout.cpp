#include "treemap/layout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#include "base/error.h"
#include "base/lines.h"
#include "base/threads.h"

namespace qv {
namespace {

constexpr std::int32_t kMaxSize = std::numeric_limits<std::int32_t>::max();

std::int32_t clampSize(std::uint64_t n) {
  return n > static_cast<std::uint64_t>(kMaxSize) ? kMaxSize : static_cast<std::int32_t>(n);
}

// Sizes are never negative, so the sum of two fits in 64 bits and only the top needs a clamp.
std::int32_t satAdd(std::int32_t a, std::int32_t b) {
  return clampSize(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}

// 1.3 times the lines, rounded to the nearest integer with halves to the even one,
// clamped before the conversion so a huge height cannot overflow. The product is
// rounded to double before it is compared (1.3 * 5 is 6.5 only in double), and
// it is compared with the half above its floor rather than subtracted from, which
// leaves no multiply-add to fuse. below + 0.5 is exact: below is under 2^32.
std::int32_t scaledHeight(std::int32_t lines) {
  const double product = storedAs<double>(static_cast<double>(lines) * gridHeightScale);
  const double below = std::floor(product);
  const double half = below + 0.5;
  double rounded = below;
  if (product > half || (product == half && std::fmod(below, 2.0) != 0.0)) rounded += 1.0;
  return rounded >= static_cast<double>(kMaxSize) ? kMaxSize : static_cast<std::int32_t>(rounded);
}

}  // namespace

BoxSize textSize(Label text) {
  std::size_t lines = 0, widest = 0;
  text.visit([&](auto chars) {
    forEachLine(chars, [&](auto line) {
      widest = std::max(widest, line.size());
      ++lines;
    });
  });
  return {clampSize(widest), clampSize(lines)};
}

BoxSize tableSize(std::int32_t cols, std::span<const BoxSize> cells) {
  if (cells.empty()) return {0, 0};
  if (cols < 1)
    throw Error::program("table of " + std::to_string(cells.size()) + " cells with " +
                         std::to_string(cols) + " columns");
  const std::size_t rowLength = static_cast<std::size_t>(cols);
  BoxSize table;
  for (std::size_t start = 0; start < cells.size(); start += rowLength) {
    const std::size_t end = start + std::min(rowLength, cells.size() - start);
    std::int32_t rowWidth = 0, rowHeight = 0;
    for (std::size_t i = start; i < end; ++i) {
      rowWidth = satAdd(rowWidth, cells[i].width);
      rowHeight = std::max(rowHeight, cells[i].height);
    }
    table.width = std::max(table.width, rowWidth);
    table.height = satAdd(table.height, rowHeight);
  }
  return table;
}

BoxSize boxSize(BoxSize name, BoxSize table) {
  return {std::max(name.width, table.width), scaledHeight(satAdd(name.height, table.height))};
}

// Candidates from min(cells, maxTableCols) columns up are all the same single row, so
// they cannot beat the one with exactly that many columns, which comes first; trying
// only up to there gives the same choice as trying all maxTableCols. No cells at all
// measure (0, 0) in every candidate, which is square, so 1 column.
std::int32_t chooseCols(std::span<const BoxSize> cells) {
  const std::int32_t last =
      static_cast<std::int32_t>(std::min<std::size_t>(maxTableCols, cells.size()));
  std::int32_t best = 1;
  float bestRatio = -1.0f;
  for (std::int32_t n = 1; n <= last; ++n) {
    // tableSize of sorted cells: a row's height is its last cell's, and sums of sizes
    // that are never negative, clamped once, are the sums tableSize clamps each step.
    const std::size_t rowLength = static_cast<std::size_t>(n);
    std::uint64_t width = 0, height = 0;
    for (std::size_t start = 0; start < cells.size(); start += rowLength) {
      const std::size_t end = std::min(cells.size(), start + rowLength);
      std::uint64_t rowWidth = 0;
      for (std::size_t i = start; i < end; ++i)
        rowWidth += static_cast<std::uint32_t>(cells[i].width);
      width = std::max(width, rowWidth);
      height += static_cast<std::uint32_t>(cells[end - 1].height);
    }
    const float r = aspectRatio({clampSize(width), clampSize(height)});
    if (r > bestRatio) {  // strictly: the fewest columns win a tie
      bestRatio = r;
      best = n;
    }
  }
  return best;
}

std::int32_t mkTableBox(std::span<const BoxSize> sizes, std::vector<std::uint32_t>& order,
                        std::vector<BoxSize>& sorted) {
  order.resize(sizes.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  if (order.size() > 1) {
    // Height, then width, then the children's own order: a total order, so the one
    // permutation it defines, found without the temporary buffer a stable sort
    // allocates (one per node, dear where the heap takes a lock).
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
      const BoxSize x = sizes[a], y = sizes[b];
      if (x.height != y.height) return x.height < y.height;
      if (x.width != y.width) return x.width < y.width;
      return a < b;
    });
  }
  sorted.resize(sizes.size());
  for (std::size_t i = 0; i < order.size(); ++i) sorted[i] = sizes[order[i]];
  return chooseCols(sorted);
}

namespace {

// Lays out one node whose children are laid out: its cells, its column count and
// its size. Keeps its scratch lists from node to node.
class NodeLayout {
 public:
  NodeLayout(const LabelTree& tree, LargeVector<BoxSize>& sizes, LargeVector<NodeIndex>& cells,
             LargeVector<std::uint8_t>& cols)
      : tree_(tree), sizes_(sizes), cells_(cells), cols_(cols) {}

  void layOut(NodeIndex i) {
    const BoxSize name = textSize(tree_.label(i));
    if (tree_.isLeaf(i)) {
      sizes_[i] = name;
      cols_[i] = 0;
      return;
    }
    children_.clear();
    childSizes_.clear();
    for (NodeIndex c : tree_.children(i)) {
      children_.push_back(c);
      childSizes_.push_back(sizes_[c]);
    }
    const std::int32_t chosen = mkTableBox(childSizes_, order_, sorted_);
    cols_[i] = static_cast<std::uint8_t>(chosen);
    for (std::size_t p = 0; p < order_.size(); ++p) cells_[children_[p]] = children_[order_[p]];
    sizes_[i] = boxSize(name, tableSize(chosen, sorted_));
  }

 private:
  const LabelTree& tree_;
  LargeVector<BoxSize>& sizes_;
  LargeVector<NodeIndex>& cells_;
  LargeVector<std::uint8_t>& cols_;
  std::vector<NodeIndex> children_;
  std::vector<BoxSize> childSizes_, sorted_;
  std::vector<std::uint32_t> order_;
};

}  // namespace

BoxForest treeMapLBox(std::shared_ptr<const LabelTree> shared, unsigned workers) {
  static_assert(maxTableCols <= 255, "column counts are stored in a byte");
  const LabelTree& tree = *shared;
  const std::size_t n = tree.size();
  if (n == 0) throw Error::program("treeMapLBox: a tree without a root");
  LargeVector<NodeIndex> cells(n);
  LargeVector<std::uint8_t> cols(n);
  LargeVector<BoxSize> sizes(n);
  // Children come after their parent in pre-order, so a backward pass over a subtree
  // lays out every child before its parent. Disjoint subtrees are laid out on several
  // threads at once, then the few nodes above them.
  const TreeSplit split = splitForWorkers(tree, workers);
  forEachInParallel(split.units.size(), workers, [&](std::size_t u) {
    NodeLayout layout(tree, sizes, cells, cols);
    for (NodeIndex k = split.units[u].end; k-- > split.units[u].begin;) layout.layOut(k);
  });
  NodeLayout layout(tree, sizes, cells, cols);
  for (auto it = split.above.rbegin(); it != split.above.rend(); ++it) layout.layOut(it->node);
  return BoxForest(std::move(shared), std::move(cells), std::move(cols));
}

}  // namespace qv
