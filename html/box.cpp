#include "html/box.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/error.h"
#include "base/lines.h"
#include "platform/platform.h"

namespace qv {

BoxProps defBoxProps() {
  return BoxProps{"white", "black", 2};
}

BoxAttrs::BoxAttrs(const BoxProps& style)
    : border_("border: " + std::to_string(style.boxBorderWidth) + "px solid " +
              style.boxBorderColor + ";"),
      fill_(style.boxFillColor) {}

namespace {

// Each byte of a narrow label's line as writeEscapedLine writes it, eight bytes a
// character, so that each is one copy of fixed size.
struct Escape {
  char text[8];
  std::uint8_t size;
};
constexpr std::array<Escape, 256> kEscapes = [] {
  std::array<Escape, 256> table{};
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
constexpr std::size_t kLongestEscape = 6;
constexpr std::string_view kDivisionOpen = "<div onclick=\"displayBox(";
constexpr std::string_view kDivisionClose = "</div>";
constexpr std::string_view kLineBreak = "<BR>\n";  // between two lines of a label

// The common case, a narrow label that fits the output's buffer: written in place,
// one table copy a byte. False when the label is not that.
bool writeNarrowDivision(Output& out, Label label, std::string_view id) {
  if (label.wide()) return false;
  const std::string_view text = label.narrow();
  // A line feed becomes at most kLongestEscape bytes too: "\n<BR>\n". Counted in 64
  // bits: six times a label of 716 MB wraps a 32-bit size_t to a bound that fits.
  const std::uint64_t bound = kDivisionOpen.size() + id.size() + 3 +
                              kLongestEscape * std::uint64_t{text.size()} + 1 +
                              kDivisionClose.size() + 8;
  if (bound > std::numeric_limits<std::size_t>::max()) return false;
  char* p = out.room(static_cast<std::size_t>(bound));
  if (p == nullptr) return false;
  std::memcpy(p, kDivisionOpen.data(), kDivisionOpen.size());
  p += kDivisionOpen.size();
  std::memcpy(p, id.data(), id.size());
  p += id.size();
  std::memcpy(p, ")\">", 3);
  p += 3;
  bool first = true;
  forEachLine(text, [&](std::span<const char> line) {
    if (!first) {
      std::memcpy(p, kLineBreak.data(), kLineBreak.size());
      p += kLineBreak.size();
    }
    first = false;
    for (const char c : line) {
      const Escape& e = kEscapes[static_cast<unsigned char>(c)];
      std::memcpy(p, e.text, 8);
      p += e.size;
    }
    *p++ = '\n';
  });
  std::memcpy(p, kDivisionClose.data(), kDivisionClose.size());
  out.commit(p + kDivisionClose.size());
  return true;
}

// What writeNarrowDivision would write, counted as ByteCount counts: the bytes as
// they reach the file, where a line feed takes platform::kLineEndBytes. Only the
// line ends hold line feeds; no escape does.
std::uint64_t narrowDivisionSize(std::string_view text, std::string_view id) {
  constexpr std::uint64_t kLineEnd = platform::kLineEndBytes;
  std::uint64_t size = kDivisionOpen.size() + id.size() + 3 + kDivisionClose.size();
  bool first = true;
  forEachLine(text, [&](std::span<const char> line) {
    if (!first) size += kLineBreak.size() - 1 + kLineEnd;
    first = false;
    for (const char c : line) size += kEscapes[static_cast<unsigned char>(c)].size;
    size += kLineEnd;
  });
  return size;
}

// The tag indentation of a box at depth; see BoxPart.
std::size_t boxIndent(std::size_t depth) {
  return 2 + 12 * depth;
}
constexpr std::size_t kBoxRow = 2, kBoxCell = 4, kChildTable = 6, kChildRow = 8, kChildCell = 10;

std::string_view digitsOf(char (&digits)[32], std::int64_t n) {
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  return {digits, static_cast<std::size_t>(end - digits)};
}

}  // namespace

template <class Out>
void writeLabelDivision(Out& out, Label label, std::int32_t id) {
  char digits[32];
  const std::string_view idText = digitsOf(digits, id);
  if constexpr (std::is_same_v<Out, Output>) {
    if (writeNarrowDivision(out, label, idText)) return;
  }
  if constexpr (std::is_same_v<Out, ByteCount>) {
    if (!label.wide()) return out.add(narrowDivisionSize(label.narrow(), idText));
  }
  out.write(kDivisionOpen);
  out.write(idText);
  out.write(")\">");
  auto lines = [&](auto chars) {
    bool first = true;
    forEachLine(chars, [&](auto line) {
      if (!first) out.write(kLineBreak);
      first = false;
      writeEscapedLine(out, line);
      out.put('\n');
    });
  };
  if constexpr (std::is_same_v<Out, ByteCount>) {
    lines(label.codes());  // a narrow label was counted above
  } else {
    label.visit(lines);
  }
  out.write(kDivisionClose);
}

template <class Out>
void mkHTMLBox(Out& out, BoxPart part, const BoxAttrs& style, std::size_t depth) {
  const std::size_t indent = boxIndent(depth);
  auto tag = [&](TagKind kind, std::string_view name, std::size_t offset) {
    renderTag(out, kind, name, {}, indent + offset);
  };
  switch (part) {
    case BoxPart::LeafHead:
    case BoxPart::GridHead:
      renderTag(out, TagKind::Opening, "TABLE", style.attrs(), indent);
      tag(TagKind::Opening, "TR", kBoxRow);
      tag(TagKind::Opening, "TD", kBoxCell);
      return;
    case BoxPart::LeafTail:
      tag(TagKind::Closing, "TD", kBoxCell);
      tag(TagKind::Closing, "TR", kBoxRow);
      tag(TagKind::Closing, "TABLE", 0);
      return;
    case BoxPart::GridOpen:
      tag(TagKind::Closing, "TD", kBoxCell);
      tag(TagKind::Closing, "TR", kBoxRow);
      tag(TagKind::Opening, "TR", kBoxRow);
      tag(TagKind::Opening, "TD", kBoxCell);
      return;
    case BoxPart::RowOpen:
      return tag(TagKind::Opening, "TR", kChildRow);
    case BoxPart::CellOpen:
      return tag(TagKind::Opening, "TD", kChildCell);
    case BoxPart::CellClose:
      return tag(TagKind::Closing, "TD", kChildCell);
    case BoxPart::RowClose:
      return tag(TagKind::Closing, "TR", kChildRow);
    case BoxPart::GridClose:
      tag(TagKind::Closing, "TABLE", kChildTable);
      tag(TagKind::Closing, "TD", kBoxCell);
      tag(TagKind::Closing, "TR", kBoxRow);
      tag(TagKind::Closing, "TABLE", 0);
      return;
  }
}

BoxMarkup::BoxMarkup(const std::string& leafColour, std::span<const std::string> gridColours,
                     std::size_t depths)
    : leaf_([&] {
        BoxProps style = defBoxProps();
        style.boxFillColor = leafColour;
        return BoxAttrs(style);
      }()) {
  for (const std::string& colour : gridColours) {
    BoxProps style = defBoxProps();
    style.boxFillColor = colour;
    grids_.emplace_back(style);
  }
  cache_.resize(std::min(depths, kCachedDepths));
  for (std::size_t d = 0; d < cache_.size(); ++d) {
    for (std::size_t p = 0; p < kBoxParts; ++p) {
      const auto part = static_cast<BoxPart>(p);
      if (part == BoxPart::GridHead && grids_.empty()) continue;
      // Room for the part at once: growing it is most of what the cache costs.
      cache_[d][p].reserve(kPartRoom + d);
      StringOutput to(cache_[d][p]);
      make(to, part, d);
    }
  }
}

template <class Out>
void BoxMarkup::make(Out& out, BoxPart part, std::size_t depth) const {
  if (part != BoxPart::GridHead) return mkHTMLBox(out, part, leaf_, depth);
  if (grids_.empty()) throw Error::program("Prelude.head: empty list");
  // A grid at depth d takes the colour the options rotated d times put first.
  mkHTMLBox(out, part, grids_[depth % grids_.size()], depth);
}

std::uint64_t BoxMarkup::size(BoxPart part, std::size_t depth) const {
  ByteCount count;
  write(count, part, depth);
  return count.bytes();
}

template <class Out>
void BoxMarkup::writeBoxBegin(Out& out, bool grid, Label label, std::int32_t id,
                              std::size_t depth) const {
  write(out, grid ? BoxPart::GridHead : BoxPart::LeafHead, depth);
  writeLabelDivision(out, label, id);
  if (!grid) return write(out, BoxPart::LeafTail, depth);
  write(out, BoxPart::GridOpen, depth);
  char value[32] = "boxId";
  const auto end = std::to_chars(value + 5, value + sizeof value, id).ptr;
  const std::array<HtmlAttr, 2> attrs = {
      HtmlAttr{"ID", std::string_view(value, static_cast<std::size_t>(end - value))},
      HtmlAttr{"STYLE", "display: none;"}};
  renderTag(out, TagKind::Opening, "TABLE", attrs, boxIndent(depth) + kChildTable);
}

template <class Out>
void BoxMarkup::writeSpanningCell(Out& out, std::uint32_t span, std::size_t depth) {
  char digits[32];
  const HtmlAttr colspan{"COLSPAN", digitsOf(digits, span)};
  renderTag(out, TagKind::Opening, "TD", std::span<const HtmlAttr>(&colspan, 1),
            boxIndent(depth) + kChildCell);
}

template <class Out>
void writePageBegin(Out& out) {
  out.write(renderMessage());
  renderTag(out, TagKind::Opening, "HTML", {}, 0);
  out.write(displayBoxJS());
}

template <class Out>
void writePageEnd(Out& out) {
  renderTag(out, TagKind::Closing, "HTML", {}, 0);
  out.put('\n');
}

// The page writes through an Output and measures through a ByteCount.
template void writeLabelDivision(Output&, Label, std::int32_t);
template void writeLabelDivision(ByteCount&, Label, std::int32_t);
template void mkHTMLBox(Output&, BoxPart, const BoxAttrs&, std::size_t);
template void mkHTMLBox(ByteCount&, BoxPart, const BoxAttrs&, std::size_t);
template void BoxMarkup::make(Output&, BoxPart, std::size_t) const;
template void BoxMarkup::make(ByteCount&, BoxPart, std::size_t) const;
template void BoxMarkup::writeBoxBegin(Output&, bool, Label, std::int32_t, std::size_t) const;
template void BoxMarkup::writeBoxBegin(ByteCount&, bool, Label, std::int32_t, std::size_t) const;
template void BoxMarkup::writeSpanningCell(Output&, std::uint32_t, std::size_t);
template void BoxMarkup::writeSpanningCell(ByteCount&, std::uint32_t, std::size_t);
template void writePageBegin(Output&);
template void writePageBegin(ByteCount&);
template void writePageEnd(Output&);
template void writePageEnd(ByteCount&);

}  // namespace qv
