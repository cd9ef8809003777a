#include "treemap/page_size.h"

#include <vector>

#include "base/threads.h"
#include "platform/platform.h"
#include "treemap/box_writer.h"

namespace qv {
namespace {

// The bytes of box b at depth and everything inside it, its cells measured already:
// what renderBox writes, in its order, each cell's box added as measured.
std::uint64_t measureBox(const BoxMarkup& markup, const BoxForest& forest,
                         const LargeVector<std::uint64_t>& bytes, NodeIndex b, std::size_t depth) {
  ByteCount out;
  writeBoxBegin(out, markup, forest, b, depth);
  if (!forest.isGrid(b)) return out.bytes();
  const auto cols = static_cast<std::uint32_t>(forest.tbCols(b));
  const BoxForest::Cells cells = forest.tbCels(b);
  std::uint32_t j = 0;
  for (auto next = cells.begin(); next != cells.end(); ++j) {
    const NodeIndex child = *next;
    const bool last = ++next == cells.end();
    writeCellBegin(out, markup, j, last, cols, depth);
    out.add(bytes[child]);
    writeCellEnd(out, markup, j, last, cols, depth);
  }
  markup.write(out, BoxPart::GridClose, depth);
  return out.bytes();
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
