// The labels of the label tree: an element's is its start tag written as an
// empty-element tag ("<b />"), a text's and a reference's their own characters.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tree/label.h"

namespace qv {

// True when every character is blank (isBlank; the empty text too): such a text
// makes no node.
bool isBlankText(Label text);

// A tag or attribute name, split at its first ":".
struct Name {
  std::optional<std::string_view> prefix;
  std::string_view local;
};

// One attribute of a start tag, its value with references resolved.
struct LabelAttr {
  Name name;
  Label value;
};

// Appends the label of an element with this name and these attributes.
void elementLabel(std::string& out, const Name& name, std::span<const LabelAttr> attrs);

// Appends value with "<" ">" "&" '"' "'" as entities; line feed, carriage return
// and 32..126 as they are; every other code as "&#N;" with N in decimal.
void escapeAttrValue(std::string& out, Label value);

}  // namespace qv
