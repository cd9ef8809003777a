// One box of the treemap and the page's fold/unfold script.
//
// A box is a bordered, filled "TABLE" whose first row holds the clickable label
// and whose further rows hold the children's fragments. Clicking the label calls
// the script's displayBox(id), which shows or hides the element "boxId" + id.
// The streaming page renderer writes the same bytes from the same pieces
// (boxTableAttrs, writeLabelDivision) that mkHTMLBox builds from.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "html/html.h"
#include "tree/label.h"
#include "tree/output.h"

namespace qv {

struct BoxProps {
  std::string boxFillColor;    // the table's BGCOLOR, verbatim
  std::string boxBorderColor;  // written verbatim into the table's STYLE
  std::int32_t boxBorderWidth = 0;
  friend bool operator==(const BoxProps&, const BoxProps&) = default;
};

// Fill "white", border "black", width 2.
BoxProps defBoxProps();

// Textual form, e.g. BoxProps {boxFillColor = "white", boxBorderColor = "black",
// boxBorderWidth = 2}; in parentheses when written at precedence 11 or higher.
void appendBoxProps(std::string& out, const BoxProps& props, int precedence = 0);
std::string showBoxProps(const BoxProps& props, int precedence = 0);
// "[" records separated by "," "]".
std::string showBoxPropsList(std::span<const BoxProps> list);

// STYLE = "border: <width>px solid <border colour>;" then BGCOLOR = <fill colour>.
std::array<HtmlAttr, 2> boxTableAttrs(const BoxProps& style);

// Writes <div onclick="displayBox(id)">, the label's lines escaped with spaces as
// "&nbsp;", each followed by a line feed and separated by "<BR>" lines, then </div>.
// Characters above code 255 are written as "&#N;".
void writeLabelDivision(Output& out, Label label, std::int32_t id);

// One "TABLE": the label row, then the cells in rows of `columns` (the last row may be
// shorter and spans the rest). Fails when cells is non-empty and columns is below 1.
HtmlFragment mkHTMLBox(Label label, std::int32_t id, std::vector<HtmlFragment> cells,
                       std::int32_t columns, const BoxProps& style);

// The script text, seven lines each ended by a line feed.
std::string_view displayBoxScript();
// A fragment holding the script as one raw text.
HtmlFragment displayBoxJS();

}  // namespace qv
