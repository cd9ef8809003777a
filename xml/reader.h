// xml/: the lenient XML reader: its scanner, references, namespaces and the labels
// of the tree it builds.
//
// The lenient XML reader: any bytes in, the document's name tree out. It never
// fails, does not recurse on the document's depth, and takes time linear in the
// input. The scan itself is parseXML (xml/scanner.h); the labels are those of
// xml/nametree.h.
#pragma once

#include <string>
#include <string_view>

#include "tree/tree.h"

namespace qv {

// nameTreeOf: the label tree of document (element names, texts
// and references), whose root label is inputPath. Takes the document
// over: its line ends are folded in place and text labels that are plain slices
// of it point into it. The tree's storage() owns the document, the generated
// labels and the root label.
LabelTree nameTreeOf(std::string inputPath, std::string document);

}  // namespace qv
