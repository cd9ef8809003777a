// Box rendering and page assembly: a laid-out box forest becomes nested box
// tables, each grid box carrying a hidden table of its children whose ID the
// label's click handler looks up, and the page puts the script first.
//
// The page is the largest thing the program makes, many times its input, so it is
// written from an explicit stack straight into an Output. Its size is known before
// its first byte: the same writers run over a ByteCount.
#pragma once

#include <cstdint>

#include "tree/output.h"
#include "tree/tree.h"
#include "treemap/box.h"

namespace qv {

// Writes the forest's root box and everything inside it, as the page holds it (the
// root box's TABLE indented by 2). Grid boxes take options.toAltColors by depth,
// leaves options.toLeafColor; a grid with no alternative colours fails with
// "Prelude.head: empty list".
void renderBox(Output& out, const TreeMapOptions& options, const BoxForest& forest);

// A page ready to be written: the tree numbered (tree2ltree) and laid out
// (treeMapLBox). The page is the preamble and one "HTML" element holding the script
// and then the root box.
class TreeMapPage {
 public:
  TreeMapPage(TreeMapOptions options, BoxForest forest)
      : options_(std::move(options)), forest_(std::move(forest)) {}
  // The exact number of bytes write() writes.
  std::uint64_t size() const;
  void write(Output& out) const;

 private:
  TreeMapOptions options_;
  BoxForest forest_;
};

// Numbers and lays out the tree. Takes the tree so that each stage can be freed as
// soon as the next one is built.
TreeMapPage treeMapExt(const TreeMapOptions& options, NameTree tree);

}  // namespace qv
