#include "html/box.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <type_traits>

namespace qv {

BoxProps defBoxProps() {
  return BoxProps{"white", "black", 2};
}

BoxAttrs::BoxAttrs(const BoxProps& style)
    : border_("border: " + std::to_string(style.boxBorderWidth) + "px solid " +
              style.boxBorderColor + ";"),
      fill_(style.boxFillColor) {}

namespace {

// A narrow label as its division writes it: every line feed but a final one becomes
// "\n<BR>\n" (a line ends, a "<BR>" line stands between two), and a line feed ends
// the last line; each other byte is escaped as writeEscapedLine does. Eight bytes a
// character, so that each is one copy of fixed size.
struct Escape {
  char text[8];
  std::uint8_t size;
};
constexpr std::array<Escape, 256> kEscapes = [] {
  std::array<Escape, 256> table{};
  auto set = [&](unsigned char c, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) table[c].text[i] = text[i];
    table[c].size = static_cast<std::uint8_t>(text.size());
  };
  for (int c = 0; c < 256; ++c) {
    const auto byte = static_cast<unsigned char>(c);
    const std::string_view escape = lineEscape(byte);
    if (escape.empty()) {
      table[c].text[0] = static_cast<char>(c);
      table[c].size = 1;
    } else {
      set(byte, escape);
    }
  }
  set('\n', "\n<BR>\n");
  return table;
}();
constexpr std::size_t kLongestEscape = 6;
constexpr std::string_view kDivisionOpen = "<div onclick=\"displayBox(";
constexpr std::string_view kDivisionClose = "</div>";

// The common case, a narrow label that fits the output's buffer: written in place,
// one table copy a byte. False when the label is not that.
bool writeNarrowDivision(Output& out, Label label, std::string_view id) {
  if (label.wide()) return false;
  std::string_view text = label.narrow();
  const std::size_t bound = kDivisionOpen.size() + id.size() + 3 + kLongestEscape * text.size() +
                            1 + kDivisionClose.size() + 8;
  char* p = out.room(bound);
  if (p == nullptr) return false;
  std::memcpy(p, kDivisionOpen.data(), kDivisionOpen.size());
  p += kDivisionOpen.size();
  std::memcpy(p, id.data(), id.size());
  p += id.size();
  std::memcpy(p, ")\">", 3);
  p += 3;
  if (!text.empty()) {
    if (text.back() == '\n') text.remove_suffix(1);
    for (const char c : text) {
      const Escape& e = kEscapes[static_cast<unsigned char>(c)];
      std::memcpy(p, e.text, 8);
      p += e.size;
    }
    *p++ = '\n';
  }
  std::memcpy(p, kDivisionClose.data(), kDivisionClose.size());
  out.commit(p + kDivisionClose.size());
  return true;
}

// What writeNarrowDivision would write, counted.
std::uint64_t narrowDivisionSize(std::string_view text, std::string_view id) {
  std::uint64_t size = kDivisionOpen.size() + id.size() + 3 + kDivisionClose.size();
  if (text.empty()) return size;
  if (text.back() == '\n') text.remove_suffix(1);
  for (const char c : text) size += kEscapes[static_cast<unsigned char>(c)].size;
  return size + 1;
}

}  // namespace

template <class Out>
void writeLabelDivision(Out& out, Label label, std::int32_t id) {
  char digits[32];  // room beyond any int32, which the compiler cannot see
  const auto end = std::to_chars(digits, digits + sizeof digits, id).ptr;
  const std::string_view idText(digits, static_cast<std::size_t>(end - digits));
  if constexpr (std::is_same_v<Out, Output>) {
    if (writeNarrowDivision(out, label, idText)) return;
  } else if constexpr (std::is_same_v<Out, ByteCount> && ByteCount::kBytesAsWritten) {
    if (!label.wide()) {
      out.add(narrowDivisionSize(label.narrow(), idText));
      return;
    }
  }
  out.write(kDivisionOpen);
  out.write(idText);
  out.write(")\">");
  label.visit([&](auto chars) {
    const std::size_t n = chars.size();
    std::size_t start = 0;
    while (start < n) {
      const std::size_t stop = static_cast<std::size_t>(
          std::find(chars.begin() + start, chars.end(), '\n') - chars.begin());
      writeEscapedLine(out, chars.subspan(start, stop - start));
      out.put('\n');
      if (stop + 1 < n) out.write("<BR>\n");
      start = stop + 1;
    }
  });
  out.write(kDivisionClose);
}

template <class Out>
void mkHTMLBox(Out& out, BoxPart part, const BoxAttrs& style, std::size_t indent) {
  switch (part) {
    case BoxPart::Head:
      renderTag(out, TagKind::Opening, "TABLE", style.attrs(), indent);
      renderTag(out, TagKind::Opening, "TR", {}, indent + 2);
      renderTag(out, TagKind::Opening, "TD", {}, indent + 4);
      return;
    case BoxPart::LeafTail:
    case BoxPart::CellOpen:
      renderTag(out, TagKind::Closing, "TD", {}, indent + 4);
      renderTag(out, TagKind::Closing, "TR", {}, indent + 2);
      if (part == BoxPart::LeafTail) {
        renderTag(out, TagKind::Closing, "TABLE", {}, indent);
      } else {
        renderTag(out, TagKind::Opening, "TR", {}, indent + 2);
        renderTag(out, TagKind::Opening, "TD", {}, indent + 4);
      }
      return;
    case BoxPart::CellClose:
      renderTag(out, TagKind::Closing, "TD", {}, indent + 4);
      renderTag(out, TagKind::Closing, "TR", {}, indent + 2);
      renderTag(out, TagKind::Closing, "TABLE", {}, indent);
      return;
  }
}

std::string_view displayBoxJS() {
  return "<script type=\"text/javascript\">\n"
         "function displayBox(i){\n"
         "var row = document.getElementById(\"boxId\"+i);\n"
         "if (row.style.display == '') row.style.display = 'none';\n"
         "else row.style.display = '';\n"
         " }\n"
         "</script>\n";
}

template void writeLabelDivision(Output&, Label, std::int32_t);
template void writeLabelDivision(ByteCount&, Label, std::int32_t);
template void mkHTMLBox(Output&, BoxPart, const BoxAttrs&, std::size_t);
template void mkHTMLBox(ByteCount&, BoxPart, const BoxAttrs&, std::size_t);
template void mkHTMLBox(StringOutput&, BoxPart, const BoxAttrs&, std::size_t);

}  // namespace qv
