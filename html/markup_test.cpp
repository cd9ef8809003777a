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
  const std::string lf = label + "\n", lflf = label + "\n\n";
  std::u32string wide;
  std::u16string half;
  for (const unsigned char c : label) {
    wide += c;
    half += c;
  }
  for (int i = 0; i < 300; ++i) wide += U"\u263A\U0010FFFF\n";
  for (const Label l : {Label(label), Label(lf), Label(lflf), Label(std::u32string_view(wide)),
                        Label(std::u16string_view(half))}) {
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

TEST(Box, SizePassMeasuresWhatTheWriterWrites) {
  // The size pass counts escapes by blocks of bytes and digits by thresholds, never
  // by writing: every form, past a block and past the rounds a lane can hold.
  std::string escapes;
  for (int i = 0; i < 2000; ++i) escapes += "\"&<> x";
  std::u32string big, half;
  for (const char32_t c : {255u, 256u, 999u, 1000u, 9999u, 10000u, 65535u}) half += c;
  for (const char32_t c : {65536u, 99999u, 100000u, 999999u, 1000000u, 9999999u, 10000000u,
                           99999999u, 100000000u, 999999999u, 1000000000u, 0xFFFFFFFFu}) {
    big += c;
  }
  big += half + U" \n" + half;
  const std::u16string narrowed(half.begin(), half.end());
  const std::vector<Label> labels = {
      Label(std::string_view(escapes)),
      Label(std::string_view(escapes).substr(0, 17)),
      Label(std::string_view(escapes).substr(3, 16)),
      Label(std::u16string_view(narrowed)),
      Label(std::u32string_view(big)),
  };
  for (const Label& l : labels) {
    for (const std::int32_t id : {0, 9, 10, -1, 2147483647, -2147483647 - 1}) {
      ByteCount count;
      writeLabelDivision(count, l, id);
      EXPECT_EQ(count.size(), qvtest::sizeOf(division(l, id))) << l.size() << " " << id;
    }
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
