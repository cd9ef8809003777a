#include "treemap/page_size.h"

#include <atomic>
#include <vector>

#include "base/threads.h"
#include "treemap/box_writer.h"

namespace qv {
namespace {

// Box b at depth and everything inside it, its cells measured already: what
// renderBox writes, in its order, each cell's box added as measured. The line feeds
// are b's own, its cells' were counted with them.
TextSize measureBox(const BoxMarkup& markup, const BoxForest& forest, const SubtreeBytes& bytes,
                    NodeIndex b, std::uint32_t depth) {
  ByteCount out;
  writeBoxBegin(out, markup, forest, b, depth);
  if (forest.isGrid(b)) {
    CellWalk cells(forest, b, depth);
    while (const std::optional<NodeIndex> cell = cells.step(out, markup)) out.add(bytes[*cell]);
  }
  return out.size();
}

}  // namespace

std::uint64_t SubtreeBytes::large(NodeIndex b) const {
  const std::lock_guard<std::mutex> hold(large_->lock);
  return large_->bytes.at(b);
}

void SubtreeBytes::setLarge(NodeIndex b, std::uint64_t bytes) {
  const std::lock_guard<std::mutex> hold(large_->lock);
  large_->bytes[b] = bytes;
  small_[b] = kLarge;
}

// From the leaves up: disjoint subtrees on several threads at once, then the few
// boxes above them.
SubtreeSizes measureSubtrees(const BoxMarkup& markup, const BoxForest& forest, unsigned workers) {
  const LabelTree& tree = forest.tree();
  SubtreeSizes sizes{SubtreeBytes(forest.size())};
  SubtreeBytes& bytes = sizes.bytes;
  std::atomic<std::uint64_t> lineFeeds{0};
  auto measure = [&](NodeIndex b, std::uint32_t depth) {
    const TextSize own = measureBox(markup, forest, bytes, b, depth);
    bytes.set(b, own.bytes);
    return own.lineFeeds;
  };
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
    std::uint64_t unitLineFeeds = 0;
    for (NodeIndex b = end; b-- > begin;) unitLineFeeds += measure(b, depths[b - begin]);
    lineFeeds += unitLineFeeds;
  });
  for (auto it = split.above.rbegin(); it != split.above.rend(); ++it) {
    lineFeeds += measure(it->node, it->depth);
  }
  sizes.lineFeeds = lineFeeds.load();
  return sizes;
}

}  // namespace qv
