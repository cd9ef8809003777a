// One box of the treemap, streamed, and the page's fold/unfold script.
//
// A box is a bordered, filled "TABLE" whose first row holds the clickable label;
// a box with children has one more row whose single cell holds them. Clicking the
// label calls the script's displayBox(id), which shows or hides the element with
// the identifier "boxId" + id.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

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
// followed by a line feed and separated by "<BR>" lines, then </div>. The label splits
// at line feeds; a final line feed starts no line, so the empty label has none.
template <class Out>
void writeLabelDivision(Out& out, Label label, std::int32_t id);

// mkHTMLBox, streamed in parts around the label division and the box's one cell:
//   Head      the TABLE with the style, its label row's TR and TD;
//   LeafTail  for a box without a cell: the label's TD and TR closed, the TABLE closed;
//   CellOpen  for a box with a cell: the label's TD and TR closed, the cell's TR and
//             TD opened; whatever the cell holds has its tags at indent + 6;
//   CellClose the cell's TD and TR closed, the TABLE closed.
// The TABLE's tags are at indent, its rows at indent + 2, its cells at indent + 4.
// The parts do not depend on the box's label or id, so a page makes them once per
// indentation and copies them. Only Head reads style.
enum class BoxPart { Head, LeafTail, CellOpen, CellClose };
template <class Out>
void mkHTMLBox(Out& out, BoxPart part, const BoxAttrs& style, std::size_t indent);

// The script, seven lines each ended by a line feed.
std::string_view displayBoxJS();

}  // namespace qv
