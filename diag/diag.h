// diag/: the diagnostics every run writes on the standard output: the flag list,
// the positional list and the drawing of the label tree, streamed line by line.
#pragma once

#include <string>
#include <vector>

#include "base/flag.h"
#include "base/output.h"
#include "tree/tree.h"

namespace qv {

// "Verbose", "MaxName \"3\"", "Output \"x.html\"".
std::string showFlag(const Flag& flag);
// The list forms followed by a line feed: [Verbose,Output "x"] and ["a.xml"].
void showFlags(Output& out, const std::vector<Flag>& flags);
void showPositionals(Output& out, const std::vector<std::string>& positionals);

// The drawing: the root's label, then each child's drawing, the first line prefixed
// "+- " ("`- " for the last child) and the others "|  " ("   "), every child after a
// line "|". A label holding line feeds stays one line: only its first physical line
// is prefixed. Each line is followed by a line feed, and the drawing by one more.
// A label's codes up to 255 are one byte each, those above UTF-8. For a terminal
// (visibleControls), whose control sequences a document must not send, C0 codes but
// tab and line feed, and DEL, are in caret notation ("^[" for ESC), and the C1 codes
// as UTF-8 (C2 80 to C2 9F) read "<U+0080>" to "<U+009F>".
void showTree(Output& out, const LabelTree& tree, bool visibleControls = false);

}  // namespace qv
