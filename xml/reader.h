// xml/: the lenient XML reader. This header: any bytes in, the document's label
// tree out; it never fails and does not recurse on the document's depth.
#pragma once

#include <string>
#include <string_view>

#include "base/bytes.h"
#include "tree/tree.h"

namespace qv {

// nameTreeOf: the label tree of document (element names, texts and references),
// whose root label is inputPath. The tree takes the document over (its line ends
// folded in place, then only its text labels' characters kept) and owns every label.
LabelTree nameTreeOf(std::string inputPath, Bytes document);
// A copy of document, for callers that hold a string.
LabelTree nameTreeOf(std::string inputPath, std::string_view document);

}  // namespace qv
