// xml/: the lenient XML reader. This header: any bytes in, the document's label
// tree out; it never fails and does not recurse on the document's depth.
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
