// Box rendering and page assembly: a laid-out Box tree becomes nested box
// tables, each grid box carrying a hidden table of its children whose ID the
// label's click handler looks up, and the page puts the script first.
//
// The page is the largest thing the program makes, many times its input, so it is
// produced as HTML events from an explicit stack and streamed; the same emitter
// builds a fragment for renderBox.
#pragma once

#include <string>

#include "html/html.h"
#include "tree/output.h"
#include "tree/tree.h"
#include "treemap/box.h"

namespace qv {

// The box as one "TABLE" fragment. Fails with "Prelude.head: empty list" for a grid
// box when options.toAltColors is empty.
HtmlFragment renderBox(const TreeMapOptions& options, const Box& box);
// The same box written as events.
void writeBox(HtmlWriter& writer, const TreeMapOptions& options, const Box& box);

// The whole page for a laid-out tree: the script, then the root box, in one "HTML" element.
void writeTreeMapPage(Output& out, const TreeMapOptions& options, const Box& root);
// Numbers, lays out and writes the page of a name tree. Takes the tree so that each
// stage can be freed as soon as the next one is built.
void writeTreeMapExt(Output& out, const TreeMapOptions& options, NameTree tree);
// The page as text (small trees and tests).
std::string treeMapExt(const TreeMapOptions& options, const NameTree& tree);
std::string treeMap(const NameTree& tree);

}  // namespace qv
