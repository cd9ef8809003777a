// html/: the page's markup. This header: every tag, attribute and indentation of a
// box and of the page around the boxes, and the fold/unfold script; callers say
// which part of which box goes where, and only this module knows its bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "base/output.h"
#include "html/html.h"
#include "tree/label.h"

namespace qv {

struct BoxProps {
  std::string boxFillColor;    // the table's BGCOLOR, verbatim
  std::string boxBorderColor;  // written verbatim into the table's STYLE
  std::int32_t boxBorderWidth = 0;
};

// Fill "white", border "black", width 2.
BoxProps defBoxProps();

// The two attributes of a box's TABLE, made once per style rather than once per box:
// STYLE = "border: WIDTHpx solid COLOUR;" then BGCOLOR = FILL.
class BoxAttrs {
 public:
  explicit BoxAttrs(const BoxProps& style);
  std::array<HtmlAttr, 2> attrs() const { return {{{"STYLE", border_}, {"BGCOLOR", fill_}}}; }

 private:
  std::string border_;
  std::string fill_;
};

// The writers below take an Output, or a ByteCount to measure what they would write.

// <div onclick="displayBox(ID)">, the label's lines escaped (writeEscapedLine), each
// followed by a line feed and separated by "<BR>" lines, then </div>. The label's
// lines are those of forEachLine.
template <class Out>
void writeLabelDivision(Out& out, Label label, std::int32_t id);

// A box is a bordered, filled "TABLE" whose first row holds the clickable label; a
// grid has one more row whose cell holds its children table, hidden until the
// label's displayBox(id) shows the element "boxId" + id.
//
// The parts of a box at depth d, in the order the box writes them. The box's TABLE
// has its tags at 2 + 12d (the root box sits in the page's "HTML" element), its rows
// at + 2, its cells at + 4; a grid's children table at + 6, that table's rows at + 8
// and cells at + 10, and the children's own TABLEs at + 12, which is depth d + 1.
enum class BoxPart {
  LeafHead,   // a leaf's TABLE, its label row and cell opened; the label division follows
  GridHead,   // the same for a grid
  LeafTail,   // after a leaf's label division: its cell, row and TABLE closed
  GridOpen,   // after a grid's label division: the label's cell and row closed, the
              // children's row and cell opened (the children table follows)
  RowOpen,    // a row of the children table
  CellOpen,   // a cell of it, spanning one column
  CellClose,  // the end of a cell of it
  RowClose,   // the end of a row of it
  GridClose,  // the children table closed, then the rest of the grid's box
};
inline constexpr std::size_t kBoxParts = 9;

// mkHTMLBox: one part of a box at depth, in style (only the heads read it).
template <class Out>
void mkHTMLBox(Out& out, BoxPart part, const BoxAttrs& style, std::size_t depth);

// The parts in the page's colours. A page is mostly these bytes, and they depend on
// nothing but the depth, so they are made once for the first depths, where nearly
// every box of a document lies, and copied from there; deeper boxes make them afresh,
// and their indentation dominates their cost anyway.
class BoxMarkup {
 public:
  // Leaves are filled with leafColour, the grids at depth d with
  // gridColours[d % gridColours.size()]; writing a grid's head when there are no
  // grid colours fails with "Prelude.head: empty list". The parts are made ahead for
  // the first `depths` depths (at most kCachedDepths): a page of a few boxes would
  // otherwise cost many times its boxes in parts it never writes.
  BoxMarkup(const std::string& leafColour, std::span<const std::string> gridColours,
            std::size_t depths = kCachedDepths);

  template <class Out>
  void write(Out& out, BoxPart part, std::size_t depth) const {
    if (depth < cache_.size() && (part != BoxPart::GridHead || !grids_.empty())) {
      const Part& made = cache_[depth][static_cast<std::size_t>(part)];
      // A size pass adds the part's size, known since it was made.
      if constexpr (std::is_same_v<Out, ByteCount>) {
        out.add(made.size);
      } else {
        out.write(made.text);
      }
    } else {
      make(out, part, depth);
    }
  }

  // A box up to its children: its head, the label division, and a leaf's tail or a
  // grid's opening of its children table, hidden and found by the id the label's
  // click handler passes to displayBox.
  template <class Out>
  void writeBoxBegin(Out& out, bool grid, Label label, std::int32_t id, std::size_t depth) const;

  // The opening of a cell of the children table at depth that spans `span` columns
  // (more than one).
  template <class Out>
  static void writeSpanningCell(Out& out, std::uint32_t span, std::size_t depth);

 private:
  static constexpr std::size_t kCachedDepths = 64;
  static constexpr std::size_t kPartRoom = 256;
  template <class Out>
  void make(Out& out, BoxPart part, std::size_t depth) const;

  struct Part {
    std::string text;
    TextSize size;
  };
  BoxAttrs leaf_;
  std::vector<BoxAttrs> grids_;
  std::vector<std::array<Part, kBoxParts>> cache_;
  std::vector<Part> childTables_;  // the children table's tag, its id's digits aside
  std::size_t childTableId_ = 0;   // where in that tag the digits go
};

// The page around its root box: the two opening lines, the "HTML" element's tag and
// the script; then the tag that closes it and a final line feed.
template <class Out>
void writePageBegin(Out& out);
template <class Out>
void writePageEnd(Out& out);

// The script, seven lines each ended by a line feed.
inline std::string_view displayBoxJS() {
  return "<script type=\"text/javascript\">\n"
         "function displayBox(i){\n"
         "var row = document.getElementById(\"boxId\"+i);\n"
         "if (row.style.display == '') row.style.display = 'none';\n"
         "else row.style.display = '';\n"
         " }\n"
         "</script>\n";
}

}  // namespace qv
