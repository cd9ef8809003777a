// The bytes of tags and label lines as the page writes them. Every tag ends with a
// line feed, its indentation and ">", so the text between tags is never touched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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

// lineEscape of every byte, in at most eight bytes so that one copy of fixed size
// writes any of them: an entity, or the byte itself (size 1).
struct LineEscape {
  char text[8];
  std::uint8_t size;
};
inline constexpr std::array<LineEscape, 256> kLineEscapes = [] {
  std::array<LineEscape, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const std::string_view escape = lineEscape(static_cast<unsigned char>(c));
    if (escape.empty()) {
      table[c].text[0] = static_cast<char>(c);
      table[c].size = 1;
    } else {
      for (std::size_t i = 0; i < escape.size(); ++i) table[c].text[i] = escape[i];
      table[c].size = static_cast<std::uint8_t>(escape.size());
    }
  }
  return table;
}();
inline constexpr std::size_t kLongestLineEscape = [] {
  std::size_t longest = 0;
  for (const LineEscape& e : kLineEscapes) longest = e.size > longest ? e.size : longest;
  return longest;
}();

// The writers below take an Output, or a ByteCount to measure what they would write.

// "<NAME" and its attributes (` NAME = "VALUE"`, verbatim, in order), or "</NAME",
// then a line feed, the indentation (indent / 8 tabs, then indent % 8 spaces) and ">".
template <class Out>
void renderTag(Out& out, TagKind kind, std::string_view name, std::span<const HtmlAttr> attrs,
               std::size_t indent);

// One label line: '"' '&' '<' '>' as entities, then every space as "&nbsp;" (so an
// entity's "&" is never escaped again). Other bytes are copied; codes above 255
// cannot be one byte and are written as "&#N;".
template <class Out>
void writeEscapedLine(Out& out, std::span<const unsigned char> chars);
template <class Out>
void writeEscapedLine(Out& out, std::span<const char16_t> chars);
template <class Out>
void writeEscapedLine(Out& out, std::span<const char32_t> chars);

// The bytes writeEscapedLine writes for a line (a line holds no line feed).
template <class Code>
std::uint64_t escapedSize(std::span<const Code> chars);

}  // namespace qv
