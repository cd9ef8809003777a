// xml/: the lenient XML reader. This header: any bytes in, the document's label
// tree out; it never fails and does not recurse on the document's depth.
#pragma once

#include <string>
#include <string_view>

#include "tree/tree.h"

namespace qv {

// nameTreeOf: the label tree of document (element names, texts and references),
// whose root label is inputPath. The tree takes the document over (its line ends
// folded in place; text labels are slices of it) and owns every label it holds.
LabelTree nameTreeOf(std::string inputPath, std::string document);

}  // namespace qv
