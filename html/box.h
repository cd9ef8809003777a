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

#include "html/html.h"
#include "tree/label.h"
#include "tree/output.h"

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

// <div onclick="displayBox(ID)">, the label's lines escaped (writeEscapedLine), each
// followed by a line feed and separated by "<BR>" lines, then </div>. The label splits
// at line feeds; a final line feed starts no line, so the empty label has none.
void writeLabelDivision(Output& out, Label label, std::int32_t id);

// mkHTMLBox, streamed. The box's TABLE is opened with its tags at indent, and its label
// row is written; when the box has a cell, its row and "TD" are opened for the caller
// to write the cell into, at indent + 6, before mkHTMLBoxEnd closes them and the TABLE.
void mkHTMLBoxBegin(Output& out, Label label, std::int32_t id, const BoxAttrs& style,
                    std::size_t indent, bool hasCell);
void mkHTMLBoxEnd(Output& out, std::size_t indent, bool hasCell);

// The script, seven lines each ended by a line feed.
std::string_view displayBoxJS();

}  // namespace qv
