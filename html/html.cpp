#include "html/html.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>

namespace qv {
namespace {

// A line feed, the indentation and ">". A page writes this before every ">", so
// the common case fills the buffer in one go; deep pages indent by megabytes, and
// those go out in bulk.
template <class Out>
void writeTagEnd(Out& out, std::size_t indent) {
  const std::size_t tabs = indent / 8;
  const std::size_t spaces = indent % 8;
  if (char* p = out.claim(tabs + spaces + 2)) {
    *p++ = '\n';
    std::memset(p, '\t', tabs);
    std::memset(p + tabs, ' ', spaces);
    p[tabs + spaces] = '>';
    return;
  }
  out.put('\n');
  out.fill('\t', tabs);
  out.fill(' ', spaces);
  out.put('>');
}

}  // namespace

std::string_view renderMessage() {
  return "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 FINAL//EN\">\n"
         "<!--Rendered using the Morvane Html Library v0.2-->\n";
}

template <class Out>
void renderTag(Out& out, TagKind kind, std::string_view name, std::span<const HtmlAttr> attrs,
               std::size_t indent) {
  if (kind == TagKind::Closing) {
    out.write("</");
    out.write(name);
  } else {
    out.put('<');
    out.write(name);
    for (const HtmlAttr& a : attrs) {
      out.put(' ');
      out.write(a.attrName);
      out.write(" = \"");
      out.write(a.attrValue);
      out.put('"');
    }
  }
  writeTagEnd(out, indent);
}

template <class Out>
void writeEscapedLine(Out& out, std::span<const unsigned char> chars) {
  // Labels can be very long: copy the runs between replacements in bulk.
  const char* p = reinterpret_cast<const char*>(chars.data());
  std::size_t start = 0;
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const LineEscape& e = kLineEscapes[chars[i]];
    if (e.size == 1) continue;
    out.write(std::string_view(p + start, i - start));
    out.write(std::string_view(e.text, e.size));
    start = i + 1;
  }
  out.write(std::string_view(p + start, chars.size() - start));
}

namespace {

template <class Out, class Code>
void writeEscapedCodes(Out& out, std::span<const Code> chars) {
  for (const char32_t c : chars) {
    if (c > 0xFF) {
      char digits[32];  // room beyond any code, which the compiler cannot see
      const auto end =
          std::to_chars(digits, digits + sizeof digits, static_cast<std::uint32_t>(c)).ptr;
      out.write("&#");
      out.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
      out.put(';');
    } else if (const LineEscape& e = kLineEscapes[c]; e.size == 1) {
      out.put(static_cast<char>(c));
    } else {
      out.write(std::string_view(e.text, e.size));
    }
  }
}

// The bytes that do not stand for themselves, and what their escapes add.
struct Extra {
  unsigned char byte;
  std::uint8_t more;
};
constexpr std::size_t kEscapedBytes = [] {
  std::size_t n = 0;
  for (const LineEscape& e : kLineEscapes) n += e.size != 1;
  return n;
}();
constexpr std::array<Extra, kEscapedBytes> kExtras = [] {
  std::array<Extra, kEscapedBytes> extras{};
  std::size_t n = 0;
  for (std::size_t c = 0; c < kLineEscapes.size(); ++c) {
    if (kLineEscapes[c].size != 1) {
      extras[n++] = {static_cast<unsigned char>(c),
                     static_cast<std::uint8_t>(kLineEscapes[c].size - 1)};
    }
  }
  return extras;
}();

// What a code adds to the one byte it would take alone: "&#", its digits (at least
// three above 255) and ";", or its entity's extra bytes.
template <class Code>
std::uint32_t extraOf(Code c) {
  if constexpr (sizeof(Code) > 1) {
    if (c > 0xFF) {
      std::uint32_t more = 5 + (c >= 1000) + (c >= 10000);
      if constexpr (sizeof(Code) > 2) {
        more +=
            (c >= 100000) + (c >= 1000000) + (c >= 10000000) + (c >= 100000000) + (c >= 1000000000);
      }
      return more;
    }
  }
  return kLineEscapes[c].size - 1u;
}

}  // namespace

// Bytes sixteen at a time by comparisons, the rest by table: the size pass measures
// every label this way. The lanes' sums are taken before they can wrap.
template <class Code>
std::uint64_t escapedSize(std::span<const Code> chars) {
  std::uint64_t size = chars.size();
  std::size_t i = 0;
  if constexpr (sizeof(Code) == 1) {
    using Lanes = unsigned char __attribute__((vector_size(16)));
    constexpr std::size_t kRounds = 255 / kLongestLineEscape;
    while (chars.size() - i >= sizeof(Lanes)) {
      Lanes more{};
      for (std::size_t r = 0; r < kRounds && chars.size() - i >= sizeof(Lanes); ++r) {
        Lanes block;
        std::memcpy(&block, chars.data() + i, sizeof block);
        for (const Extra& e : kExtras) more += static_cast<Lanes>(block == e.byte) & e.more;
        i += sizeof block;
      }
      // The lanes summed in pairs, then by a multiply that adds four 16-bit sums.
      std::uint64_t halves[2];
      std::memcpy(halves, &more, sizeof more);
      for (std::uint64_t h : halves) {
        h = (h & 0x00FF00FF00FF00FF) + ((h >> 8) & 0x00FF00FF00FF00FF);
        size += (h * 0x0001000100010001) >> 48;
      }
    }
  }
  for (; i < chars.size(); ++i) size += extraOf(chars[i]);
  return size;
}

template <class Out>
void writeEscapedLine(Out& out, std::span<const char16_t> chars) {
  writeEscapedCodes(out, chars);
}

template <class Out>
void writeEscapedLine(Out& out, std::span<const char32_t> chars) {
  writeEscapedCodes(out, chars);
}

// The page writes through an Output (or into its room, a Room), measures through a
// ByteCount and makes the pieces it copies through a StringOutput.
template void renderTag(Output&, TagKind, std::string_view, std::span<const HtmlAttr>, std::size_t);
template void renderTag(ByteCount&, TagKind, std::string_view, std::span<const HtmlAttr>,
                        std::size_t);
template void renderTag(StringOutput&, TagKind, std::string_view, std::span<const HtmlAttr>,
                        std::size_t);
template void writeEscapedLine(Output&, std::span<const unsigned char>);
template void writeEscapedLine(Output&, std::span<const char16_t>);
template void writeEscapedLine(Output&, std::span<const char32_t>);
template void writeEscapedLine(Room&, std::span<const char16_t>);
template void writeEscapedLine(Room&, std::span<const char32_t>);
template std::uint64_t escapedSize(std::span<const unsigned char>);
template std::uint64_t escapedSize(std::span<const char16_t>);
template std::uint64_t escapedSize(std::span<const char32_t>);

}  // namespace qv
