// The lenient XML reader. It accepts any bytes, never fails, and reads them the
// same way on both of its paths:
//  - parseXML builds the content model (tests, tools, anything that wants items);
//  - readNameTree builds the name tree straight from the scan, which is what a
//    run needs: no content model is ever held for a large document.
// For every text, nameTreeOf(path, parseXML(text)) equals readNameTree(path, text).
// Neither recurses on the document's depth, and the time is linear in the input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tree/tree.h"
#include "xml/content.h"

namespace qv {

// The top-level items of a document; the empty text gives the empty list.
std::vector<Content> parseXML(std::string_view text);

// The name tree of document, whose root label is inputPath. Takes the document
// over: its line ends are folded in place and text labels that are plain slices
// of it point into it. The tree's storage() owns the document, the generated
// labels and the root label.
NameTree readNameTree(std::string inputPath, std::string document);

// The units of work one scan of text does (bytes examined plus open elements
// touched), so tests can check that hostile input stays linear.
std::uint64_t readerWork(std::string_view text);

}  // namespace qv
