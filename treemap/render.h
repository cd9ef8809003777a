// Box rendering and page assembly: a laid-out box forest becomes nested box
// tables, each grid box carrying a hidden table of its children whose ID the
// label's click handler looks up, and the page puts the script first.
//
// The page is the largest thing the program makes, many times its input, so it is
// written from an explicit stack straight into an Output.
#pragma once

#include "tree/output.h"
#include "tree/tree.h"
#include "treemap/box.h"

namespace qv {

// Writes the forest's root box and everything inside it, its TABLE's tags at indent.
// Grid boxes take options.toAltColors by depth, leaves options.toLeafColor; a grid
// with no alternative colours fails with "Prelude.head: empty list".
void renderBox(Output& out, const TreeMapOptions& options, const BoxForest& forest,
               std::size_t indent);

// The whole page of a name tree: it is numbered (tree2ltree), laid out (treeMapLBox)
// and rendered after the script, in one "HTML" element. Takes the tree so that each
// stage can be freed as soon as the next one is built.
void treeMapExt(Output& out, const TreeMapOptions& options, NameTree tree);

}  // namespace qv
