#include "html/html.h"

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

}  // namespace

template <class Out>
void writeEscapedLine(Out& out, std::span<const char16_t> chars) {
  writeEscapedCodes(out, chars);
}

template <class Out>
void writeEscapedLine(Out& out, std::span<const char32_t> chars) {
  writeEscapedCodes(out, chars);
}

// The page writes through an Output, measures through a ByteCount and makes the
// pieces it copies through a StringOutput.
template void renderTag(Output&, TagKind, std::string_view, std::span<const HtmlAttr>, std::size_t);
template void renderTag(ByteCount&, TagKind, std::string_view, std::span<const HtmlAttr>,
                        std::size_t);
template void renderTag(StringOutput&, TagKind, std::string_view, std::span<const HtmlAttr>,
                        std::size_t);
template void writeEscapedLine(Output&, std::span<const unsigned char>);
template void writeEscapedLine(Output&, std::span<const char16_t>);
template void writeEscapedLine(ByteCount&, std::span<const char16_t>);
template void writeEscapedLine(Output&, std::span<const char32_t>);
template void writeEscapedLine(ByteCount&, std::span<const char32_t>);

}  // namespace qv
