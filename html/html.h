// HTML serialisation: the bytes of tags and text as the page writes them.
//
// Every tag ends with a line break, the indentation of its element and ">":
// the break goes inside the tag, so the text between tags is never touched.
// Indentation n is n / 8 tabs followed by n % 8 spaces. Attributes are written
// ` NAME = "VALUE"`, verbatim and in order. Text is escaped when it is written
// from a label line (writeEscapedLine); raw text is written as it is.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "base/output.h"

namespace qv {

struct HtmlAttr {
  std::string_view attrName;
  std::string_view attrValue;
};

enum class TagKind { Opening, Closing };

// The two lines that open every page.
std::string_view renderMessage();

// What a byte of a label line becomes: an entity, "&nbsp;" for a space, or nothing
// for a byte that stands for itself.
constexpr std::string_view lineEscape(unsigned char c) {
  switch (c) {
    case '"':
      return "&quot;";
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case ' ':
      return "&nbsp;";
    default:
      return {};
  }
}

// The writers below take an Output, or a ByteCount to measure what they would write.

// "<NAME" and its attributes, or "</NAME", then the tag end at indent.
template <class Out>
void renderTag(Out& out, TagKind kind, std::string_view name, std::span<const HtmlAttr> attrs,
               std::size_t indent);

// One label line: '"' '&' '<' '>' as entities, then every space as "&nbsp;" (so an
// entity's "&" is never escaped again). Other bytes are copied; codes above 255
// cannot be one byte and are written as "&#N;".
template <class Out>
void writeEscapedLine(Out& out, std::span<const unsigned char> chars);
template <class Out>
void writeEscapedLine(Out& out, std::span<const char32_t> chars);

}  // namespace qv
