#include "diag/diag.h"

#include <gtest/gtest.h>

#include "tests/string_sink.h"

namespace qv {
namespace {

using qvtest::collect;

// Builds a label tree from an outline: each "x" opens a node with the next label
// and each ")" closes the innermost open node; other characters only separate.
LabelTree outline(std::vector<std::string> labels, const std::string& shape) {
  auto owned = std::make_shared<const std::vector<std::string>>(std::move(labels));
  TreeBuilder<Label> b;
  std::size_t next = 0;
  for (char c : shape) {
    if (c == 'x') b.open(Label((*owned)[next++]));
    if (c == ')') b.close();
  }
  return std::move(b).finish(owned);
}

std::string drawn(const LabelTree& t) {
  return collect([&](Output& out) { showTree(out, t); });
}

TEST(Drawing, LabelsWithLineFeedsStayOneUnprefixedLine) {
  const std::vector<std::string> labels = {"r", "\nx", "a\nb", "c"};
  const LabelTree t = outline(labels, "x(x),x(x)))");
  EXPECT_EQ(drawn(t), "r\n|\n+- \nx\n|\n`- a\nb\n   |\n   `- c\n\n");
}

TEST(Drawing, RootAloneIsOneLineAndAnEmptyLine) {
  const LabelTree t = outline({"data.xml"}, "x");
  EXPECT_EQ(drawn(t), "data.xml\n\n");
}

TEST(Drawing, WideCodesGoOutAsUtf8AndBytesStayBytes) {
  // Once as a short label, written at once; once longer than the output's buffer.
  for (const int times : {1, 300}) {
    std::u32string wide;
    std::string utf8;
    for (int i = 0; i < times; ++i) {
      wide += {0xE9, 0x100, 0xD800, 0x10FFFF};
      utf8 += "\xe9\xc4\x80\xed\xa0\x80\xf4\x8f\xbf\xbf";
    }
    TreeBuilder<Label> b;
    b.open(Label("\xe9"));
    b.leaf(Label(std::u32string_view(wide)));
    const LabelTree t = std::move(b).finish();
    EXPECT_EQ(drawn(t), "\xe9\n|\n`- " + utf8 + "\n\n") << times;
  }
}

// For a terminal: no control character of a label reaches it, tab and line feed
// aside; everything else stays as it is.
TEST(Drawing, ControlsShowVisiblyForATerminal) {
  struct Case {
    Label label;
    std::string shown;
  };
  const std::u32string wide = {0x1B, 0x100, 0xC2, 0x9B, 0x7F};
  const Case cases[] = {
      {std::string_view("\x1b]0;title\x07\0\x7f", 12), "^[]0;title^G^@^?"},
      {"\x01\x1a\x1f\r", "^A^Z^_^M"},
      {"a\tb", "a\tb"},
      {"\xc2\x80\xc2\x9b\xc2\x9f", "<U+0080><U+009B><U+009F>"},
      {"\xc2\xa0\xc2\x7f\x9b\xc3\x9b\xc2", "\xc2\xa0\xc2^?\x9b\xc3\x9b\xc2"},
      {std::u32string_view(wide), "^[\xc4\x80<U+009B>^?"},
  };
  for (const Case& c : cases) {
    TreeBuilder<Label> b;
    b.leaf(c.label);
    const LabelTree t = std::move(b).finish();
    EXPECT_EQ(collect([&](Output& out) { showTree(out, t, true); }), c.shown + "\n\n") << c.shown;
  }
  // A line feed stays one: the drawing's lines are the same.
  const LabelTree t = outline({"r\x1b", "a\nb"}, "x(x))");
  EXPECT_EQ(collect([&](Output& out) { showTree(out, t, true); }), "r^[\n|\n`- a\nb\n\n");
}

TEST(Drawing, DeepChainStreamsWithoutRecursion) {
  constexpr int kDepth = 20000;
  TreeBuilder<Label> b;
  for (int i = 0; i < kDepth; ++i) b.open(Label("n"));
  const LabelTree t = std::move(b).finish();
  struct CountingSink : Sink {
    std::size_t bytes = 0, lines = 0;
    void write(const char* d, std::size_t n) override {
      bytes += n;
      for (std::size_t i = 0; i < n; ++i) lines += d[i] == '\n';
    }
  } sink;
  Output out(sink);
  showTree(out, t);
  out.flush();
  EXPECT_EQ(sink.lines,
            2u * kDepth);  // a label line and a "|" line per node but the root, +1 empty
  // Node d (from 0) has a first line of 3*d characters of prefix and connector plus "n".
  std::size_t expected = 1;  // the final empty line
  for (std::size_t d = 0; d < kDepth; ++d) expected += 3 * d + 2 + (d > 0 ? 3 * (d - 1) + 2 : 0);
  EXPECT_EQ(sink.bytes, expected);
}

TEST(Diagnostics, FlagAndArgumentLines) {
  struct Case {
    std::vector<Flag> flags;
    std::vector<std::string> positionals;
    std::string expected;
  };
  const Case cases[] = {
      {{}, {}, "[]\n[]\n"},
      {{Flag::verbose(), Flag::output("C:\\out.html")},
       {"in.xml"},
       "[Verbose,Output \"C:\\\\out.html\"]\n[\"in.xml\"]\n"},
      {{Flag::verbose(), Flag::verbose(), Flag::maxName("3")},
       {"a", "b"},
       "[Verbose,Verbose,MaxName \"3\"]\n[\"a\",\"b\"]\n"},
      {{Flag::output("\xe9"
                     "1.html")},
       {"\xe9.html", "a\tb\"c"},
       "[Output \"\\233\\&1.html\"]\n[\"\\233.html\",\"a\\tb\\\"c\"]\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(collect([&](Output& out) {
                showFlags(out, c.flags);
                showPositionals(out, c.positionals);
              }),
              c.expected);
  }
}

}  // namespace
}  // namespace qv
