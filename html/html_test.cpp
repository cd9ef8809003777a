#include "html/html.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "tests/string_sink.h"

namespace qv {
namespace {

using qvtest::collect;

std::span<const unsigned char> bytesOf(std::string_view s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// A document of raw text and a table whose rows are one, two and one cells wide,
// the short rows spanning the widest; a "BR" inside a cell has no end tag.
TEST(Html, TagsAndEscapedLinesComposeTheWorkedDocument) {
  const std::string page = collect([](Output& out) {
    auto open = [&](std::string_view name, std::size_t indent, std::vector<HtmlAttr> attrs = {}) {
      renderTag(out, TagKind::Opening, name, attrs, indent);
    };
    auto close = [&](std::string_view name, std::size_t indent) {
      renderTag(out, TagKind::Closing, name, {}, indent);
    };
    auto line = [&](std::string_view text) { writeEscapedLine(out, bytesOf(text)); };
    out.write(renderMessage());
    open("HTML", 0);
    out.write("raw & <b>text</b>");
    open("TABLE", 2, {{"BGCOLOR", "white"}});
    open("TR", 4), open("TD", 6, {{"COLSPAN", "2"}}), line("a < b"), close("TD", 6), close("TR", 4);
    open("TR", 4), open("TD", 6), line("x"), open("BR", 8), line("y z"), close("TD", 6);
    open("TD", 6), close("TD", 6), close("TR", 4);
    open("TR", 4), open("TD", 6, {{"COLSPAN", "2"}}), out.write("c"), close("TD", 6);
    close("TR", 4), close("TABLE", 2), close("HTML", 0);
    out.put('\n');
  });
  EXPECT_EQ(page, qvtest::readGolden("html-example.html"));
}

TEST(Html, TagsBreakAndIndentBeforeEveryClosingBracket) {
  struct Case {
    TagKind kind;
    std::string_view name;
    std::vector<HtmlAttr> attrs;
    std::size_t indent;
    std::string expected;
  };
  const Case cases[] = {
      {TagKind::Opening, "TD", {}, 0, "<TD\n>"},
      {TagKind::Opening, "TD", {}, 6, "<TD\n      >"},
      {TagKind::Opening, "TD", {}, 8, "<TD\n\t>"},
      {TagKind::Opening, "TD", {}, 10, "<TD\n\t  >"},
      {TagKind::Opening, "TD", {}, 16, "<TD\n\t\t>"},
      {TagKind::Opening, "TD", {}, 23, "<TD\n\t\t       >"},
      {TagKind::Opening,
       "T",
       {{"A", "1"}, {"B", "x\"&y"}, {"A", ""}},
       2,
       "<T A = \"1\" B = \"x\"&y\" A = \"\"\n  >"},
      {TagKind::Closing, "TABLE", {{"A", "1"}}, 4, "</TABLE\n    >"},
      // Deeper than the output buffer: the indentation goes out in bulk.
      {TagKind::Closing, "A", {}, 8 * 5000 + 3, "</A\n" + std::string(5000, '\t') + "   >"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(collect([&](Output& o) { renderTag(o, c.kind, c.name, c.attrs, c.indent); }),
              c.expected)
        << c.name << c.indent;
  }
}

TEST(Html, LabelLinesEscapeMarkupThenSpaces) {
  EXPECT_EQ(collect([](Output& o) { writeEscapedLine(o, bytesOf("\"&<> x\t\xe9  ")); }),
            "&quot;&amp;&lt;&gt;&nbsp;x\t\xe9&nbsp;&nbsp;");
  const std::u32string wide = U"a <\u00ff\u0100\U0010FFFF&";
  EXPECT_EQ(collect([&](Output& o) { writeEscapedLine(o, std::span(wide)); }),
            "a&nbsp;&lt;\xff&#256;&#1114111;&amp;");
}

}  // namespace
}  // namespace qv
