#include "html/markup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/string_sink.h"

namespace qv {
namespace {

using qvtest::collect;

std::string division(Label label, std::int32_t id) {
  return collect([&](Output& out) { writeLabelDivision(out, label, id); });
}

TEST(Box, LabelDivisionEscapesLinesAndSeparatesThemWithBr) {
  struct Case {
    std::string label;
    std::int32_t id;
    std::string expected;
  };
  const Case cases[] = {
      {"doc", 1, "<div onclick=\"displayBox(1)\">doc\n</div>"},
      {"a<b\nc d", 7, "<div onclick=\"displayBox(7)\">a&lt;b\n<BR>\nc&nbsp;d\n</div>"},
      {"<doc />", 2, "<div onclick=\"displayBox(2)\">&lt;doc&nbsp;/&gt;\n</div>"},
      {"<a b=\"x\" />", 2,
       "<div onclick=\"displayBox(2)\">&lt;a&nbsp;b=&quot;x&quot;&nbsp;/&gt;\n</div>"},
      {"x\n", 3, "<div onclick=\"displayBox(3)\">x\n</div>"},
      {"a\n\nb", 3, "<div onclick=\"displayBox(3)\">a\n<BR>\n\n<BR>\nb\n</div>"},
      {"  indented", 3, "<div onclick=\"displayBox(3)\">&nbsp;&nbsp;indented\n</div>"},
      {"", 4, "<div onclick=\"displayBox(4)\"></div>"},
      {"\n", 9, "<div onclick=\"displayBox(9)\">\n</div>"},
      {"\n\n", 9, "<div onclick=\"displayBox(9)\">\n<BR>\n\n</div>"},
      {"a\r\n\tb &amp;", -3,
       "<div onclick=\"displayBox(-3)\">a\r\n<BR>\n\tb&nbsp;&amp;amp;\n</div>"},
      {"\xe9\xff", -2147483647 - 1, "<div onclick=\"displayBox(-2147483648)\">\xe9\xff\n</div>"},
  };
  for (const Case& c : cases) EXPECT_EQ(division(c.label, c.id), c.expected) << c.label;
}

TEST(Box, LongLabelsGoOutInPiecesAsShortOnesDoInPlace) {
  // A label that cannot fit a small buffer takes the piecewise path; in a large
  // buffer the same label is written in place. Both must agree, and with the size.
  std::string label;
  for (int i = 0; i < 300; ++i) label += "a \"&<>\n\t\xe9";
  for (const std::string& l : {label, label + "\n", label + "\n\n"}) {
    qvtest::StringSink big;
    {
      Output out(big);
      writeLabelDivision(out, l, 42);
      out.flush();
    }
    EXPECT_EQ(division(l, 42), big.text);
    ByteCount count;
    writeLabelDivision(count, l, 42);
    EXPECT_EQ(count.size(), qvtest::sizeOf(big.text));
  }
}

TEST(Box, WideLabelCharactersAboveByteRangeBecomeNumericReferences) {
  const std::u32string label = U"\u00e9 \u0100<\n\U0010FFFF";
  EXPECT_EQ(division(std::u32string_view(label), 5),
            "<div onclick=\"displayBox(5)\">\xe9&nbsp;&#256;&lt;\n<BR>\n&#1114111;\n</div>");
}

TEST(Box, StyleAndCellRowSurroundTheLabel) {
  const BoxAttrs odd(BoxProps{"#FFD700", "red", -1});
  EXPECT_EQ(collect([&](Output& out) {
              mkHTMLBox(out, BoxPart::LeafHead, odd, 0);
              writeLabelDivision(out, "b", -3);
              mkHTMLBox(out, BoxPart::LeafTail, odd, 0);
            }),
            "<TABLE STYLE = \"border: -1px solid red;\" BGCOLOR = \"#FFD700\"\n  >"
            "<TR\n    ><TD\n      ><div onclick=\"displayBox(-3)\">b\n</div></TD\n      >"
            "</TR\n    ></TABLE\n  >");
  EXPECT_EQ(collect([&](Output& out) {
              const BoxAttrs style(defBoxProps());
              mkHTMLBox(out, BoxPart::GridHead, style, 1);
              writeLabelDivision(out, "b", 8);
              mkHTMLBox(out, BoxPart::GridOpen, style, 1);
              out.write("cell");
              mkHTMLBox(out, BoxPart::GridClose, style, 1);
            }),
            "<TABLE STYLE = \"border: 2px solid black;\" BGCOLOR = \"white\"\n\t      >"
            "<TR\n\t\t>"
            "<TD\n\t\t  ><div onclick=\"displayBox(8)\">b\n</div></TD\n\t\t  ></TR\n\t\t>"
            "<TR\n\t\t><TD\n\t\t  >cell</TABLE\n\t\t    ></TD\n\t\t  ></TR\n\t\t>"
            "</TABLE\n\t      >");
}

}  // namespace
}  // namespace qv
