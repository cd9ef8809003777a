// treemap/: which boxes a page has, their layout and order, and the writing of
// the page. This header: the page, measured before its first byte so that it can be
// cut into pieces that several threads make at once and written in order.
#pragma once

#include <cstdint>
#include <memory>

#include "base/output.h"
#include "tree/tree.h"
#include "treemap/box.h"
#include "treemap/page_size.h"

namespace qv {

class BoxMarkup;

// A page ready to be written: the preamble and one "HTML" element holding the
// script and then the root box. Grid boxes take options.toAltColors by depth, leaves
// options.toLeafColor; a grid with no alternative colours fails with
// "Prelude.head: empty list".
class TreeMapPage {
 public:
  // Measures every box's subtree on `workers` threads (the only pass over all boxes
  // before writing).
  TreeMapPage(TreeMapOptions options, BoxForest forest, unsigned workers = 0);
  // The bytes and line feeds write() writes.
  TextSize size() const { return size_; }
  // Writes the page into sink in buffers of bufferSize bytes. With workers > 0 that
  // many threads produce pieces of a few buffers while the calling thread writes them
  // in order; with 0 the calling thread does everything. A failure in any thread ends
  // the write with that failure.
  void write(Sink& sink, unsigned workers, std::size_t bufferSize = Output::kDefaultCapacity) const;

 private:
  std::shared_ptr<const BoxMarkup> markup_;  // the bytes that depend on depth alone
  BoxForest forest_;
  SubtreeBytes subtreeBytes_;  // of every box, at the depth it has
  TextSize size_;
};

// Lays out the tree (treeMapLBox) and measures its page, on `workers` threads; the
// page keeps the tree for the boxes' names. It only reads the tree, which others may
// read meanwhile.
TreeMapPage treeMapExt(const TreeMapOptions& options, std::shared_ptr<const LabelTree> tree,
                       unsigned workers = 0);

}  // namespace qv
