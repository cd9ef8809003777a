#include "html/box.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/error.h"

namespace qv {
namespace {

std::string lines(std::initializer_list<std::string_view> ls) {
  std::string out;
  for (std::string_view l : ls) {
    out += l;
    out += '\n';
  }
  return out;
}

TEST(Box, SingleLeafPageIsExact) {
  const std::string expected = lines({
      R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 FINAL//EN">)",
      "<!--Rendered using the Morvane Html Library v0.2-->",
      "<HTML",
      R"(><script type="text/javascript">)",
      "function displayBox(i){",
      R"(var row = document.getElementById("boxId"+i);)",
      "if (row.style.display == '') row.style.display = 'none';",
      "else row.style.display = '';",
      " }",
      "</script>",
      R"(<TABLE STYLE = "border: 2px solid black;" BGCOLOR = "white")",
      "  ><TR",
      "    ><TD",
      "      ><div onclick=\"displayBox(1)\">doc",
      "</div></TD",
      "      ></TR",
      "    ></TABLE",
      "  ></HTML",
      ">",
  });
  EXPECT_EQ(expected.size(), 480u);
  EXPECT_EQ(
      renderDocument(concatFragments({displayBoxJS(), mkHTMLBox("doc", 1, {}, 1, defBoxProps())})),
      expected);
}

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
  for (const Case& c : cases) {
    EXPECT_EQ(division(c.label, c.id), c.expected) << c.label;
    // The same bytes come out of the element model: the lines through linesToHtml, each node
    // in its line-oriented form followed by a line feed.
    std::vector<std::string> ls;
    for (std::size_t start = 0; start < c.label.size();) {
      const std::size_t stop = std::min(c.label.find('\n', start), c.label.size());
      ls.push_back(c.label.substr(start, stop - start));
      start = stop + 1;
    }
    std::string text;
    for (const HtmlNode& n : linesToHtml(ls)) {
      for (const std::string& l : prettyHtml(n)) text += l + "\n";
    }
    EXPECT_EQ(division(c.label, c.id),
              "<div onclick=\"displayBox(" + std::to_string(c.id) + ")\">" + text + "</div>");
  }
}

TEST(Box, WideLabelCharactersAboveByteRangeBecomeNumericReferences) {
  const std::u32string label = U"\u00e9 \u0100<\n\U0010FFFF";
  EXPECT_EQ(division(std::u32string_view(label), 5),
            "<div onclick=\"displayBox(5)\">\xe9&nbsp;&#256;&lt;\n<BR>\n&#1114111;\n</div>");
}

std::string rendered(const HtmlFragment& f) {
  std::string out;
  for (const HtmlNode& n : f) out += renderHtml(0, n);
  return out;
}

TEST(Box, CellsFollowTheLabelInRowsOfColumns) {
  std::vector<HtmlFragment> cells;
  for (const char* s : {"p", "q", "r"}) cells.push_back(rawText(s));
  const BoxProps style{"#FFD700", "red", -1};
  EXPECT_EQ(rendered(mkHTMLBox("b", -3, cells, 2, style)),
            "<TABLE STYLE = \"border: -1px solid red;\" BGCOLOR = \"#FFD700\"\n>"
            "<TR\n  ><TD COLSPAN = \"2\"\n    ><div onclick=\"displayBox(-3)\">b\n</div></TD\n    "
            "></TR\n  >"
            "<TR\n  ><TD\n    >p</TD\n    ><TD\n    >q</TD\n    ></TR\n  >"
            "<TR\n  ><TD COLSPAN = \"2\"\n    >r</TD\n    ></TR\n  >"
            "</TABLE\n>");
  EXPECT_EQ(rendered(mkHTMLBox("b", 8, cells, 1, defBoxProps())),
            "<TABLE STYLE = \"border: 2px solid black;\" BGCOLOR = \"white\"\n>"
            "<TR\n  ><TD\n    ><div onclick=\"displayBox(8)\">b\n</div></TD\n    ></TR\n  >"
            "<TR\n  ><TD\n    >p</TD\n    ></TR\n  >"
            "<TR\n  ><TD\n    >q</TD\n    ></TR\n  >"
            "<TR\n  ><TD\n    >r</TD\n    ></TR\n  >"
            "</TABLE\n>");
  // More columns than cells: one row as wide as the cells, the label spanning it.
  const HtmlFragment wide = mkHTMLBox("b", 8, cells, 5, defBoxProps());
  const std::string w = rendered(wide);
  EXPECT_NE(w.find("<TD COLSPAN = \"3\"\n    ><div"), std::string::npos) << w;
  EXPECT_EQ(wide.front().tag()->tagContent.size(), 2u);
}

TEST(Box, ColumnsBelowOneWithCellsIsAProgramError) {
  std::vector<HtmlFragment> cells;
  cells.push_back(rawText("p"));
  try {
    mkHTMLBox("b", 1, cells, 0, defBoxProps());
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::Program);
    EXPECT_EQ(e.message(), "mkHTMLBox: 0 columns for 1 cells");
  }
  // Without cells the column count is never used.
  EXPECT_EQ(mkHTMLBox("b", 1, {}, 0, defBoxProps()), mkHTMLBox("b", 1, {}, 1, defBoxProps()));
}

TEST(Box, PropsHaveARecordTextForm) {
  const BoxProps odd{"a\"b\\", "\n\xe9", -7};
  struct Case {
    std::string got;
    std::string expected;
  };
  const Case cases[] = {
      {showBoxProps(defBoxProps()),
       R"(BoxProps {boxFillColor = "white", boxBorderColor = "black", boxBorderWidth = 2})"},
      {showBoxProps(defBoxProps(), 10),
       R"(BoxProps {boxFillColor = "white", boxBorderColor = "black", boxBorderWidth = 2})"},
      {showBoxProps(defBoxProps(), 11),
       R"((BoxProps {boxFillColor = "white", boxBorderColor = "black", boxBorderWidth = 2}))"},
      {showBoxProps(odd),
       R"(BoxProps {boxFillColor = "a\"b\\", boxBorderColor = "\n\233", boxBorderWidth = -7})"},
      {showBoxPropsList({}), "[]"},
      {showBoxPropsList(std::vector<BoxProps>{defBoxProps(), odd}),
       R"([BoxProps {boxFillColor = "white", boxBorderColor = "black", boxBorderWidth = 2},)"
       R"(BoxProps {boxFillColor = "a\"b\\", boxBorderColor = "\n\233", boxBorderWidth = -7}])"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

}  // namespace
}  // namespace qv
