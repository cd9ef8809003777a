#include "treemap/page.h"

#include <algorithm>

#include "base/threads.h"
#include "html/markup.h"
#include "treemap/box_writer.h"
#include "treemap/layout.h"
#include "treemap/page_size.h"
#include "treemap/planner.h"

namespace qv {

namespace {

// How many depths a small tree's page uses, so that its parts are not made for
// depths it never reaches: the cache of every depth costs a page of a few boxes
// many times what its boxes do. Large trees take the whole cache.
std::size_t depthsUsed(const LabelTree& tree) {
  constexpr std::size_t kSmallTree = std::size_t{1} << 16;
  if (tree.size() > kSmallTree) return static_cast<std::size_t>(-1);
  std::vector<NodeIndex> ends;  // of the subtrees that hold n
  std::size_t most = 0;
  for (NodeIndex n = 0; n < tree.size(); ++n) {
    while (!ends.empty() && ends.back() <= n) ends.pop_back();
    ends.push_back(n + tree.subtreeSize(n));
    most = std::max(most, ends.size());
  }
  return most;
}

}  // namespace

TreeMapPage::TreeMapPage(TreeMapOptions options, BoxForest forest, unsigned workers)
    : markup_(std::make_shared<const BoxMarkup>(options.toLeafColor, options.toAltColors,
                                                depthsUsed(forest.tree()))),
      forest_(std::move(forest)) {
  SubtreeSizes boxes = measureSubtrees(*markup_, forest_, workers);
  subtreeBytes_ = std::move(boxes.bytes);
  ByteCount around;
  writePageBegin(around);
  writePageEnd(around);
  size_ = around.size();
  size_.bytes += subtreeBytes_[BoxForest::root()];
  size_.lineFeeds += boxes.lineFeeds;
}

void TreeMapPage::write(Sink& sink, unsigned workers, std::size_t bufferSize) const {
  bufferSize = std::max<std::size_t>(bufferSize, 1);
  const BoxMarkup& markup = *markup_;
  // Pieces of half what a worker may buffer keep every worker busy while the piece
  // before its own is written; with no workers the page is one piece.
  const std::uint64_t pieceBytes =
      workers == 0 ? size_.bytes : std::max<std::uint64_t>(kBuffersPerWorker / 2 * bufferSize, 1);
  PagePlanner planner(markup, forest_, subtreeBytes_, pieceBytes);
  writePieces(sink, workers, bufferSize, [&]() -> PieceJob {
    std::vector<PageStep> steps = planner.next();
    if (steps.empty()) return {};
    return [&markup, this, steps = std::move(steps)](Output& out) {
      for (const PageStep& step : steps) writeStep(out, markup, forest_, step);
    };
  });
}

TreeMapPage treeMapExt(const TreeMapOptions& options, std::shared_ptr<const LabelTree> tree,
                       unsigned workers) {
  return TreeMapPage(options, treeMapLBox(std::move(tree), workers), workers);
}

}  // namespace qv
