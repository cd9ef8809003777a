// The name tree of a document: the root is the input path; every element, every
// non-blank text and every unresolved reference becomes one node, in document
// order. An element's label is its start tag written as an empty-element tag
// ("<b />", "<?xml version=\"1.0\" ?>"); texts and references are their own
// characters, unescaped. None of these can fail, and none recurses on depth.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tree/label.h"
#include "tree/tree.h"
#include "xml/content.h"

namespace qv {

NameTree nameTreeOf(std::string inputPath, const std::vector<Content>& contents);
// The trees of the items that are not blank text, in order.
std::vector<NameTree> contentsToForest(const std::vector<Content>& contents);
NameTree contentToTree(const Content& item);
std::string elementLabel(const Element& element);
// "<" ">" "&" '"' "'" as entities; line feed, carriage return and 32..126 as
// they are; every other code as "&#N;" with N in decimal.
std::string escapeAttrValue(Label value);

// Same shape and the same characters in every label.
bool sameNameTree(const NameTree& a, const NameTree& b);

// True when every character is one of 9..13, 32, 160 (the empty text too).
bool isBlankText(Label text);

// The pieces of an element label, so that the reader can build labels straight
// from its scan without an Element; elementLabel goes through the same code.
struct LabelAttr {
  std::optional<std::string_view> prefix;
  std::string_view local;
  Label value;
};
void appendElementLabel(std::string& out, std::optional<std::string_view> prefix,
                        std::string_view local, std::span<const LabelAttr> attrs);
void appendEscapedAttrValue(std::string& out, Label value);

}  // namespace qv
