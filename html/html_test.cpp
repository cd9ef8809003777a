#include "html/html.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/error.h"

namespace qv {
namespace {

// Joins lines, each followed by a line feed.
std::string lines(std::initializer_list<std::string_view> ls) {
  std::string out;
  for (std::string_view l : ls) {
    out += l;
    out += '\n';
  }
  return out;
}

HtmlFragment worked() {
  std::vector<std::vector<HtmlFragment>> rows(3);
  rows[0].push_back(linesToHtml({"a < b"}));
  rows[1].push_back(linesToHtml({"x", "y z"}));
  rows[1].push_back({});
  rows[2].push_back(rawText("c"));
  return concatFragments(
      {rawText("raw & <b>text</b>"), rowsTable({{"BGCOLOR", "white"}}, {}, std::move(rows))});
}

TEST(Html, DocumentOfRawTextAndTableIsExact) {
  const std::string expected = lines({
      R"(<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 3.2 FINAL//EN">)",
      "<!--Rendered using the Morvane Html Library v0.2-->",
      "<HTML",
      R"(>raw & <b>text</b><TABLE BGCOLOR = "white")",
      "  ><TR",
      R"(    ><TD COLSPAN = "2")",
      "      >a&nbsp;&lt;&nbsp;b</TD",
      "      ></TR",
      "    ><TR",
      "    ><TD",
      "      >x<BR",
      "\t>y&nbsp;z</TD",
      "      ><TD",
      "      ></TD",
      "      ></TR",
      "    ><TR",
      R"(    ><TD COLSPAN = "2")",
      "      >c</TD",
      "      ></TR",
      "    ></TABLE",
      "  ></HTML",
      ">",
  });
  EXPECT_EQ(expected.size(), 391u);
  EXPECT_EQ(renderDocument(worked()), expected);
}

TEST(Html, EmptyContentDocumentStillHasHtmlElement) {
  EXPECT_EQ(renderDocument({}), std::string(renderMessage()) + "<HTML\n></HTML\n>\n");
}

HtmlFragment tag(std::string name, std::vector<HtmlAttr> attrs = {}, HtmlFragment content = {}) {
  return element(std::move(name), std::move(attrs), std::move(content));
}

TEST(Html, TagsBreakAndIndentBeforeEveryClosingBracket) {
  struct Case {
    TagKind kind;
    std::string name;
    std::vector<HtmlAttr> attrs;
    std::size_t indent;
    std::string expected;
  };
  const Case cases[] = {
      {TagKind::Opening, "TD", {}, 0, "<TD\n>"},
      {TagKind::Opening, "TD", {}, 6, "<TD\n      >"},
      {TagKind::Opening, "TD", {}, 8, "<TD\n\t>"},
      {TagKind::Opening, "TD", {}, 10, "<TD\n\t  >"},
      {TagKind::Opening, "TD", {}, 12, "<TD\n\t    >"},
      {TagKind::Opening, "TD", {}, 16, "<TD\n\t\t>"},
      {TagKind::Opening, "TD", {}, 23, "<TD\n\t\t       >"},
      {TagKind::Opening,
       "T",
       {{"A", "1"}, {"B", "x\"&y"}, {"A", ""}},
       2,
       "<T A = \"1\" B = \"x\"&y\" A = \"\"\n  >"},
      {TagKind::Closing, "TABLE", {{"A", "1"}}, 4, "</TABLE\n    >"},
      {TagKind::Closing, "br", {}, 0, "</br\n>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(renderTag(c.kind, c.name, c.attrs, c.indent), c.expected) << c.name << c.indent;
  }
}

TEST(Html, NodesRenderWithEndTagsExceptEmptyVoidElements) {
  struct Case {
    const char* what;
    HtmlFragment node;
    std::size_t indent;
    std::string expected;
  };
  const Case cases[] = {
      {"empty TD", tag("TD"), 0, "<TD\n></TD\n>"},
      {"empty BR", tag("BR"), 0, "<BR\n>"},
      {"empty BR at 8", tag("BR"), 8, "<BR\n\t>"},
      {"BR holding an empty text", tag("BR", {}, rawText("")), 0, "<BR\n></BR\n>"},
      {"lower-case br is not void", tag("br"), 0, "<br\n></br\n>"},
      {"every void name", tag("BASE"), 0, "<BASE\n>"},
      {"void name with attributes", tag("IMG", {{"SRC", "a"}}), 0, "<IMG SRC = \"a\"\n>"},
      {"raw text verbatim", rawText("a & b\n<"), 4, "a & b\n<"},
      {"nesting adds two", tag("A", {}, concatFragments({rawText("x"), tag("B", {}, tag("C"))})), 4,
       "<A\n    >x<B\n      ><C\n\t></C\n\t></B\n      ></A\n    >"},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(c.node.size(), 1u);
    EXPECT_EQ(renderHtml(c.indent, c.node.front()), c.expected) << c.what;
  }
}

TEST(Html, WithAttrsAppendsToTopLevelElementsOnly) {
  HtmlFragment f = concatFragments({tag("TD", {{"A", "1"}}, tag("B")), rawText("t"), tag("TR")});
  const HtmlFragment g = withAttrs(f, {{"C", "&\""}, {"A", "2"}});
  EXPECT_EQ(renderHtml(0, g[0]), "<TD A = \"1\" C = \"&\"\" A = \"2\"\n><B\n  ></B\n  ></TD\n>");
  EXPECT_EQ(g[1], f[1]);
  EXPECT_EQ(renderHtml(0, g[2]), "<TR C = \"&\"\" A = \"2\"\n></TR\n>");
  // The argument is a value: building g did not change f.
  EXPECT_EQ(renderHtml(0, f[0]), "<TD A = \"1\"\n><B\n  ></B\n  ></TD\n>");
}

TEST(Html, TextIsEscapedOnlyWhenBuiltFromLines) {
  EXPECT_EQ(escapeHtmlText("\"&<> x\t\xe9"), "&quot;&amp;&lt;&gt; x\t\xe9");
  EXPECT_EQ(spacesToNbsp(" a&b \t"), "&nbsp;a&b&nbsp;\t");
  struct Case {
    std::vector<std::string> lines;
    std::vector<std::string> rendered;  // renderHtml(0, ·) of each node
  };
  const Case cases[] = {
      {{}, {}},
      {{""}, {""}},
      {{"a & b"}, {"a&nbsp;&amp;&nbsp;b"}},
      {{"  x", "", "<y>"}, {"&nbsp;&nbsp;x", "<BR\n>", "", "<BR\n>", "&lt;y&gt;"}},
  };
  for (const Case& c : cases) {
    const HtmlFragment f = linesToHtml(c.lines);
    std::vector<std::string> rendered;
    for (const HtmlNode& n : f) rendered.push_back(renderHtml(0, n));
    EXPECT_EQ(rendered, c.rendered);
    ASSERT_EQ(f.size(), c.rendered.size());
    for (std::size_t i = 0; i < f.size(); i += 2) EXPECT_NE(f[i].string(), nullptr);
  }
}

TEST(Html, EscapedLineWriterMatchesBuilderForEveryByte) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const auto bytes = std::span(reinterpret_cast<const unsigned char*>(all.data()), all.size());
  EXPECT_EQ(collect([&](Output& o) { writeEscapedLine(o, bytes); }),
            spacesToNbsp(escapeHtmlText(all)));
  const std::u32string wide = U"a <\u00ff\u0100\U0010FFFF&";
  EXPECT_EQ(collect([&](Output& o) { writeEscapedLine(o, std::span(wide)); }),
            "a&nbsp;&lt;\xff&#256;&#1114111;&amp;");
}

TEST(Html, PrettyFormPutsEachNodeOnLinesWithoutTagBreaks) {
  const HtmlFragment td =
      tag("TD", {{"V", "a\nb"}},
          concatFragments({rawText("x\ny"), tag("BR"), tag("P", {}, tag("BR", {}, rawText("")))}));
  EXPECT_EQ(prettyHtml(td.front()), (std::vector<std::string>{
                                        "<TD V = \"ab\">",
                                        "   x\ny",
                                        "   <BR>",
                                        "   <P>",
                                        "      <BR>",
                                        "         ",
                                        "      </BR>",
                                        "   </P>",
                                        "</TD>",
                                    }));
  EXPECT_EQ(prettyHtml(tag("TD").front()), (std::vector<std::string>{"<TD>", "</TD>"}));
}

TEST(Html, WriterEventsGiveTheBytesOfTheFragment) {
  // The same events once streamed through a tiny buffer and once built as a fragment.
  auto emit = [](auto& w) {
    const AttrRef attrs[] = {{"BGCOLOR", "white"}, {"X", "\""}};
    w.text("pre");
    w.open("TABLE", attrs);
    w.open("TR");
    w.open("BR");
    w.close();
    w.open("BR");
    w.text("");
    w.close();
    w.open("TD");
    w.textWith([](Output& o) {
      o.write("a");
      o.fill(' ', 3);
    });
    w.close();
    w.close();
    w.close();
  };
  StringSink sink;
  {
    Output out(sink, 3);
    HtmlWriter w(out, 6);
    emit(w);
    EXPECT_EQ(w.depth(), 0u);
    out.flush();
  }
  FragmentBuilder b;
  emit(b);
  const HtmlFragment f = std::move(b).finish();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(sink.text, renderHtml(6, f[0]) + renderHtml(6, f[1]));
  EXPECT_EQ(sink.text,
            "pre<TABLE BGCOLOR = \"white\" X = \"\"\"\n      ><TR\n\t><BR\n\t  ><BR\n\t  ></BR\n"
            "\t  ><TD\n\t  >a   </TD\n\t  ></TR\n\t></TABLE\n      >");
}

TEST(Html, DocumentInPiecesEqualsWholeDocument) {
  const HtmlFragment content = worked();
  StringSink sink;
  Output out(sink, 5);
  HtmlWriter w(out);
  beginDocument(w);
  writeFragment(w, content);
  endDocument(w);
  out.flush();
  EXPECT_EQ(sink.text, renderDocument(content));
}

TEST(Html, MisusedEventsAreProgramErrors) {
  StringSink sink;
  Output out(sink);
  HtmlWriter w(out);
  EXPECT_THROW(w.close(), Error);
  w.open("A");
  EXPECT_THROW(beginDocument(w), Error);
  FragmentBuilder b;
  EXPECT_THROW(b.close(), Error);
}

TEST(Html, CopiesAreDeepAndIndependent) {
  HtmlFragment a = worked();
  HtmlFragment b = a;
  EXPECT_EQ(a, b);
  b = withAttrs(std::move(b), {{"Z", "1"}});
  EXPECT_FALSE(a == b);
  EXPECT_EQ(renderDocument(a), renderDocument(worked()));
  HtmlFragment c;
  c = a;
  EXPECT_EQ(c, a);
}

// Counts the bytes of a stream and keeps its first and last few.
struct EndsSink : Sink {
  void write(const char* data, std::size_t size) override {
    count += size;
    if (head.size() < 64) head.append(data, std::min(size, 64 - head.size()));
    const std::size_t keep = std::min<std::size_t>(size, 64);
    tail.append(data + size - keep, keep);
    if (tail.size() > 64) tail.erase(0, tail.size() - 64);
  }
  std::size_t count = 0;
  std::string head, tail;
};

TEST(Html, DeepNestingBuildsCopiesWritesAndDiesWithoutRecursion) {
  constexpr std::size_t kDepth = 200000;
  FragmentBuilder b;
  for (std::size_t i = 0; i < kDepth; ++i) b.open("A");
  b.text("x");
  HtmlFragment deep = std::move(b).finish();

  HtmlFragment copy = deep;
  EXPECT_EQ(copy, deep);
  // Changing the innermost text must make the fragments differ.
  FragmentBuilder b2;
  for (std::size_t i = 0; i < kDepth; ++i) b2.open("A");
  b2.text("y");
  EXPECT_FALSE(std::move(b2).finish() == deep);

  // Each level writes "<A" + break + ">" and "</A" + break + ">", the break being a line feed
  // and the indentation of that level.
  std::size_t expected = 1;
  for (std::size_t d = 0; d < kDepth; ++d) {
    const std::size_t n = 2 * d;
    expected += 2 * (n / 8 + n % 8) + 4 + 5;
  }
  EndsSink sink;
  Output out(sink);
  HtmlWriter w(out);
  writeFragment(w, deep);
  out.flush();
  EXPECT_EQ(sink.count, expected);
  EXPECT_EQ(sink.head.substr(0, 14), "<A\n><A\n  ><A\n ");
  EXPECT_EQ(sink.tail.substr(sink.tail.size() - 17), "    ></A\n  ></A\n>");

  HtmlNode moved = std::move(copy.front());
  copy.clear();
  moved = HtmlNode(HtmlString{"gone"});
  EXPECT_EQ(renderHtml(0, moved), "gone");
}

}  // namespace
}  // namespace qv
