// The size pass: every box's subtree measured by the writers' own rules, so that the
// page's size is known before its first byte and it can be cut at known offsets.
#include <vector>

#include "base/threads.h"
#include "platform/platform.h"
#include "treemap/walk.h"

namespace qv {
namespace {

// The bytes of box b at depth and everything inside it, its cells measured already.
std::uint64_t measureBox(const BoxMarkup& markup, const BoxForest& forest,
                         const LargeVector<std::uint64_t>& bytes, NodeIndex b, std::size_t depth) {
  ByteCount own;
  writeBoxBegin(own, markup, forest, b, depth);
  std::uint64_t total = own.bytes();
  if (!forest.isGrid(b)) return total;
  std::uint32_t count = 0;
  for (NodeIndex c : forest.tbCels(b)) {
    total += bytes[c];
    ++count;
  }
  const auto cols = static_cast<std::uint32_t>(forest.tbCols(b));
  const std::uint64_t rows = (count + cols - 1) / cols;
  total +=
      rows * (markup.size(BoxPart::RowOpen, depth) + markup.size(BoxPart::RowClose, depth)) +
      count * (markup.size(BoxPart::CellOpen, depth) + markup.size(BoxPart::CellClose, depth)) +
      markup.size(BoxPart::GridClose, depth);
  if (const std::uint32_t span = lastCellSpan(count, cols); span != 1) {
    // The last cell's TD carries COLSPAN instead of being the plain one.
    ByteCount spanning;
    BoxMarkup::writeSpanningCell(spanning, span, depth);
    total += spanning.bytes() - markup.size(BoxPart::CellOpen, depth);
  }
  return total;
}

}  // namespace

// From the leaves up: disjoint subtrees on several threads at once, then the few
// boxes above them.
LargeVector<std::uint64_t> measureSubtrees(const BoxMarkup& markup, const BoxForest& forest) {
  const LabelTree& tree = forest.tree();
  LargeVector<std::uint64_t> bytes(forest.size());
  const unsigned workers = workersFor(platform::availableCpus());
  const TreeSplit split = splitForWorkers(tree, workers);
  forEachInParallel(split.units.size(), workers, [&](std::size_t u) {
    const auto [begin, end, depth] = split.units[u];
    // Depths within the unit: its subtrees' roots have the unit's, and a grid comes
    // before its cells.
    std::vector<std::uint32_t> depths(end - begin);
    for (NodeIndex b = begin; b < end; b += tree.subtreeSize(b)) depths[b - begin] = depth;
    for (NodeIndex b = begin; b < end; ++b) {
      for (NodeIndex c : forest.tbCels(b)) depths[c - begin] = depths[b - begin] + 1;
    }
    for (NodeIndex b = end; b-- > begin;)
      bytes[b] = measureBox(markup, forest, bytes, b, depths[b - begin]);
  });
  for (auto it = split.above.rbegin(); it != split.above.rend(); ++it) {
    bytes[it->node] = measureBox(markup, forest, bytes, it->node, it->depth);
  }
  return bytes;
}

}  // namespace qv
