#include "html/box.h"

#include <algorithm>
#include <charconv>

#include "tree/error.h"
#include "tree/show.h"

namespace qv {

BoxProps defBoxProps() {
  return BoxProps{"white", "black", 2};
}

void appendBoxProps(std::string& out, const BoxProps& props, int precedence) {
  // A record is an application: it needs parentheses as an argument of another.
  const bool parens = precedence >= 11;
  if (parens) out += '(';
  out += "BoxProps {boxFillColor = ";
  appendQuoted(out, props.boxFillColor);
  out += ", boxBorderColor = ";
  appendQuoted(out, props.boxBorderColor);
  out += ", boxBorderWidth = ";
  out += std::to_string(props.boxBorderWidth);
  out += '}';
  if (parens) out += ')';
}

std::string showBoxProps(const BoxProps& props, int precedence) {
  std::string out;
  appendBoxProps(out, props, precedence);
  return out;
}

std::string showBoxPropsList(std::span<const BoxProps> list) {
  std::string out = "[";
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i > 0) out += ',';
    appendBoxProps(out, list[i], 0);
  }
  out += ']';
  return out;
}

std::array<HtmlAttr, 2> boxTableAttrs(const BoxProps& style) {
  return {HtmlAttr{"STYLE", "border: " + std::to_string(style.boxBorderWidth) + "px solid " +
                                style.boxBorderColor + ";"},
          HtmlAttr{"BGCOLOR", style.boxFillColor}};
}

void writeLabelDivision(Output& out, Label label, std::int32_t id) {
  char digits[32];  // room beyond any int32, which the compiler cannot see
  const auto end = std::to_chars(digits, digits + sizeof digits, id).ptr;
  out.write("<div onclick=\"displayBox(");
  out.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
  out.write(")\">");
  // Every line is followed by a line feed; a "<BR>" line stands between lines. A
  // final line feed ends the last line without starting another.
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
  out.write("</div>");
}

HtmlFragment mkHTMLBox(Label label, std::int32_t id, std::vector<HtmlFragment> cells,
                       std::int32_t columns, const BoxProps& style) {
  if (!cells.empty() && columns < 1) {
    throw Error::program("mkHTMLBox: " + std::to_string(columns) + " columns for " +
                         std::to_string(cells.size()) + " cells");
  }
  std::vector<std::vector<HtmlFragment>> rows;
  rows.emplace_back();
  rows.back().push_back(rawText(collect([&](Output& out) { writeLabelDivision(out, label, id); })));
  const auto width = static_cast<std::size_t>(columns);
  for (std::size_t i = 0; i < cells.size(); i += width) {
    rows.emplace_back();
    const std::size_t stop = std::min(cells.size(), i + width);
    for (std::size_t j = i; j < stop; ++j) rows.back().push_back(std::move(cells[j]));
  }
  const std::array<HtmlAttr, 2> attrs = boxTableAttrs(style);
  return rowsTable({attrs.begin(), attrs.end()}, {}, std::move(rows));
}

std::string_view displayBoxScript() {
  return "<script type=\"text/javascript\">\n"
         "function displayBox(i){\n"
         "var row = document.getElementById(\"boxId\"+i);\n"
         "if (row.style.display == '') row.style.display = 'none';\n"
         "else row.style.display = '';\n"
         " }\n"
         "</script>\n";
}

HtmlFragment displayBoxJS() {
  return rawText(std::string(displayBoxScript()));
}

}  // namespace qv
