#include "html/markup.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "base/error.h"
#include "base/lines.h"

namespace qv {

BoxProps defBoxProps() {
  return BoxProps{"white", "black", 2};
}

BoxAttrs::BoxAttrs(const BoxProps& style)
    : border_("border: " + std::to_string(style.boxBorderWidth) + "px solid " +
              style.boxBorderColor + ";"),
      fill_(style.boxFillColor) {}

namespace {

constexpr std::string_view kDivisionOpen = "<div onclick=\"displayBox(";
constexpr std::string_view kDivisionOpenEnd = ")\">";
constexpr std::string_view kDivisionClose = "</div>";
constexpr std::string_view kLineBreak = "<BR>\n";  // between two lines of a label

// The label division, laid out once for every way of writing it: writeLine(out,
// line) writes one line of the label, escaped.
template <class Out, class Text, class WriteLine>
void layDivision(Out& out, Text text, std::string_view id, WriteLine writeLine) {
  out.write(kDivisionOpen);
  out.write(id);
  out.write(kDivisionOpenEnd);
  bool first = true;
  forEachLine(text, [&](auto line) {
    if (!first) out.write(kLineBreak);
    first = false;
    writeLine(out, line);
    out.put('\n');
  });
  out.write(kDivisionClose);
}

// The common case, a label that fits the output's buffer: written in place, one
// copy of fixed size a code below 256. False when the label does not fit.
bool writeDivisionInPlace(Output& out, Label label, std::string_view id) {
  return label.visit([&](auto text) {
    using Code = std::remove_cv_t<typename decltype(text)::element_type>;
    // A line feed becomes at most "\n<BR>\n", a code above 255 "&#" and up to 10
    // digits and ";"; the last escape copies 8 bytes whatever its size. Counted in
    // 64 bits: six times a label of 716 MB wraps a 32-bit size_t to a bound that fits.
    constexpr std::uint64_t perCode = std::max<std::uint64_t>(
        {kLongestLineEscape, 1 + kLineBreak.size(), sizeof(Code) == 1 ? 0 : 13});
    const std::uint64_t bound = kDivisionOpen.size() + id.size() + kDivisionOpenEnd.size() +
                                perCode * std::uint64_t{text.size()} + 1 + kDivisionClose.size() +
                                8;
    if (bound > std::numeric_limits<std::size_t>::max()) return false;
    char* at = out.room(static_cast<std::size_t>(bound));
    if (at == nullptr) return false;
    Room room{at};
    layDivision(room, text, id, [](Room& r, std::span<const Code> line) {
      if constexpr (sizeof(Code) > 1) {
        writeEscapedLine(r, line);
      } else {
        for (const Code c : line) {
          const LineEscape& e = kLineEscapes[c];
          std::memcpy(r.p, e.text, 8);
          r.p += e.size;
        }
      }
    });
    out.commit(room.p);
    return true;
  });
}

// The tag indentation of a box at depth; see BoxPart.
std::size_t boxIndent(std::size_t depth) {
  return 2 + 12 * depth;
}
constexpr std::size_t kBoxRow = 2, kBoxCell = 4, kChildTable = 6, kChildRow = 8, kChildCell = 10;

template <class Int>
std::string_view digitsOf(char (&digits)[32], Int n) {
  const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
  return {digits, static_cast<std::size_t>(end - digits)};
}

// An id's text; for a size pass as many zeros, which measure the same and cost no
// conversion.
template <class Out>
std::string_view idDigits(char (&digits)[32], std::int32_t id) {
  if constexpr (std::is_same_v<Out, ByteCount>) {
    std::size_t n = id < 0 ? 2 : 1;
    for (auto v = static_cast<std::uint32_t>(id < 0 ? -std::int64_t{id} : id); v >= 10; v /= 10)
      ++n;
    return std::string_view("000000000000", n);
  } else {
    return digitsOf(digits, id);
  }
}

// The tag that opens a grid's children table, hidden, with the id displayBox finds.
constexpr std::string_view kChildTableIdPrefix = "boxId";
template <class Out>
void writeChildTable(Out& out, std::string_view idDigits, std::size_t depth) {
  char value[48];
  std::memcpy(value, kChildTableIdPrefix.data(), kChildTableIdPrefix.size());
  std::memcpy(value + kChildTableIdPrefix.size(), idDigits.data(), idDigits.size());
  const std::array<HtmlAttr, 2> attrs = {
      HtmlAttr{"ID", std::string_view(value, kChildTableIdPrefix.size() + idDigits.size())},
      HtmlAttr{"STYLE", "display: none;"}};
  renderTag(out, TagKind::Opening, "TABLE", attrs, boxIndent(depth) + kChildTable);
}

template <class Out>
void writeDivision(Out& out, Label label, std::string_view idText) {
  if constexpr (std::is_same_v<Out, ByteCount>) {
    // What layDivision writes, by arithmetic: only the line feed after each line
    // and the one in each "<BR>\n" between two lines are line feeds.
    std::uint64_t lines = 0, escaped = 0;
    label.visit([&](auto chars) {
      forEachLine(chars, [&](auto line) {
        ++lines;
        escaped += escapedSize(line);
      });
    });
    const std::uint64_t breaks = lines == 0 ? 0 : lines - 1;
    out.add(TextSize{kDivisionOpen.size() + idText.size() + kDivisionOpenEnd.size() + escaped +
                         lines + breaks * kLineBreak.size() + kDivisionClose.size(),
                     lines + breaks});
  } else {
    if (writeDivisionInPlace(out, label, idText)) return;
    label.visit([&](auto chars) {
      layDivision(out, chars, idText, [](Output& o, auto line) { writeEscapedLine(o, line); });
    });
  }
}

}  // namespace

template <class Out>
void writeLabelDivision(Out& out, Label label, std::int32_t id) {
  char digits[32];
  writeDivision(out, label, idDigits<Out>(digits, id));
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
      Part& made = cache_[d][p];
      // Room for the part at once: growing it is most of what the cache costs.
      made.text.reserve(kPartRoom + d);
      StringOutput to(made.text);
      make(to, part, d);
      ByteCount count;
      count.write(made.text);
      made.size = count.size();
    }
    Part& tag = childTables_.emplace_back();
    StringOutput to(tag.text);
    writeChildTable(to, "", d);
    ByteCount count;
    count.write(tag.text);
    tag.size = count.size();
    childTableId_ = tag.text.find(kChildTableIdPrefix) + kChildTableIdPrefix.size();
  }
}

template <class Out>
void BoxMarkup::make(Out& out, BoxPart part, std::size_t depth) const {
  if (part != BoxPart::GridHead) return mkHTMLBox(out, part, leaf_, depth);
  if (grids_.empty()) throw Error::program("Prelude.head: empty list");
  // A grid at depth d takes the colour the options rotated d times put first.
  mkHTMLBox(out, part, grids_[depth % grids_.size()], depth);
}

template <class Out>
void BoxMarkup::writeBoxBegin(Out& out, bool grid, Label label, std::int32_t id,
                              std::size_t depth) const {
  char digits[32];
  const std::string_view idText = idDigits<Out>(digits, id);
  write(out, grid ? BoxPart::GridHead : BoxPart::LeafHead, depth);
  writeDivision(out, label, idText);
  if (!grid) return write(out, BoxPart::LeafTail, depth);
  write(out, BoxPart::GridOpen, depth);
  if (depth >= childTables_.size()) return writeChildTable(out, idText, depth);
  // The tag made without the id's digits, which go right after its "boxId".
  const Part& tag = childTables_[depth];
  if constexpr (std::is_same_v<Out, ByteCount>) {
    out.add(tag.size);
    out.add(std::uint64_t{idText.size()});
  } else {
    const std::string_view text = tag.text;
    out.write(text.substr(0, childTableId_));
    out.write(idText);
    out.write(text.substr(childTableId_));
  }
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
