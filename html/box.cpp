#include "html/box.h"

#include <algorithm>
#include <charconv>

namespace qv {

BoxProps defBoxProps() {
  return BoxProps{"white", "black", 2};
}

BoxAttrs::BoxAttrs(const BoxProps& style)
    : border_("border: " + std::to_string(style.boxBorderWidth) + "px solid " +
              style.boxBorderColor + ";"),
      fill_(style.boxFillColor) {}

template <class Out>
void writeLabelDivision(Out& out, Label label, std::int32_t id) {
  char digits[32];  // room beyond any int32, which the compiler cannot see
  const auto end = std::to_chars(digits, digits + sizeof digits, id).ptr;
  out.write("<div onclick=\"displayBox(");
  out.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
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
  out.write("</div>");
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
