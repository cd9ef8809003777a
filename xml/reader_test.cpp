#include "xml/reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/quote.h"
#include "tests/labels.h"
#include "xml/nametree.h"
#include "xml/scanner.h"

namespace qv {
namespace {

using qvtest::toBytes;

// Writes the events in the compact form of the table: E(name attr="v")[...] for
// an element, T"..." for text, V"..." for verbatim text, D"..." for a raw
// declaration, R"..." for a reference. An empty name shows as "".
struct Recorder {
  std::string out;
  bool first = true;
  std::size_t nodes = 0;  // what the label tree should hold besides its root

  void item(char kind) {
    if (!first) out += ',';
    out += kind;
    first = false;
    ++nodes;
  }
  void word(std::string_view w) { w.empty() ? void(out += "\"\"") : void(out += w); }
  void name(const Name& n) {
    if (n.prefix) {
      word(*n.prefix);
      out += ':';
    }
    word(n.local);
  }
  void startElement(const StartTag& t) {
    item('E');
    out += '(';
    name(t.name);
    for (const LabelAttr& a : t.attrs) {
      out += ' ';
      name(a.name);
      out += '=';
      appendQuoted(out, a.value);
    }
    out += t.hasContent ? ")[" : ")[]";
    first = t.hasContent;
  }
  void endElement() {
    out += ']';
    first = false;
  }
  void text(CDataKind kind, Label data, bool /*stableSlice*/) {
    item(kind == CDataKind::CDataText ? 'T' : kind == CDataKind::CDataVerbatim ? 'V' : 'D');
    appendQuoted(out, data);
    if (isBlankText(data)) --nodes;
  }
  void reference(std::string_view refName) {
    item('R');
    appendQuoted(out, Label(refName));
  }
};

struct Row {
  std::string input;
  std::string expected;
};

const std::vector<Row>& parseRows() {
  static const std::vector<Row> rows = {
      // Nothing at all.
      {"", ""},
      {"<!-- only a comment -->", ""},
      {"plain", R"(T"plain")"},
      // Line ends fold to one line feed.
      {"a\r\nb\rc\n\r\r\nd", R"(T"a\nb\nc\n\n\nd")"},
      {"<a\r\nk='1\r2'\r/>", R"(E(a k="1\n2")[])"},
      // White space after "<" does not count; "<" and white space at the end is nothing.
      {"< a>x</ a>", R"(E(a)[T"x"])"},
      {"<a>x< /a>y", R"(E(a)[T"x"],T"y")"},
      {"<\xA0"
       "a/>",
       R"(E(a)[])"},
      {"<", ""},
      {"x<", R"(T"x")"},
      {"x< \n\t", R"(T"x")"},
      {"< !x>", R"(E(!x)[])"},
      {"< <a>", R"(E(<a)[])"},
      // References in text.
      {"&lt;&gt;&amp;&apos;&quot;", R"(T"<>&'\"")"},
      {"&#65;&#x42;&#x6a;&#x6A;", R"(T"ABjj")"},
      {"&#0065;&#000000000000000000000066;", R"(T"AB")"},
      {"&#0;&#x0;", R"(T"\NUL\NUL")"},
      {"&#X41;", R"(R"#X41")"},
      {"&#12a;", R"(R"#12a")"},
      {"&#;&#x;", R"(R"#",R"#x")"},
      {"&#-1;&#+1;&# 1;", R"(R"#-1",R"#+1",R"# 1")"},
      {"&#1114111;&#x10FFFF;", R"(T"\1114111\1114111")"},
      {"&#1114112;&#x110000;&#99999999999;", R"(R"#1114112",R"#x110000",R"#99999999999")"},
      {"&#x20AC;&#960;&#xD800;", R"(T"\8364\960\55296")"},
      {"a&#256;&lt;b", R"(T"a\256<b")"},
      {"&LT;&nbsp;", R"(R"LT",R"nbsp")"},
      {"&;", R"(R"")"},
      {"&a b;", R"(R"a b")"},
      {"&a&b;", R"(R"a&b")"},
      {"a & b", R"(T"a & b")"},
      {"&&&&", R"(T"&&&&")"},
      {"x&y;z&w", R"(T"x",R"y",T"z&w")"},
      {"1&foo;2", R"(T"1",R"foo",T"2")"},
      {"&a<b>;", R"(T"&a",E(b)[T";"])"},
      // Comments.
      {"1<!-- c -->2", R"(T"12")"},
      {"a<!-- x", R"(T"a")"},
      {"<!-->x-->y", R"(T"y")"},
      {"<!-->", ""},
      {"<!--->", ""},
      {"<!---->z", R"(T"z")"},
      // CDATA sections.
      {"<a><![CDATA[x<y]]>z</a>", R"(E(a)[V"x<y",T"z"])"},
      {"<![CDATA[&lt;]]>", R"(V"&lt;")"},
      {"<![CDATA[]]>", R"(V"")"},
      {"a<![CDATA[]]>b", R"(T"a",V"",T"b")"},
      {"<![CDATA[a]]><!-- c --><![CDATA[b]]>", R"(V"ab")"},
      {"<![CDATA[x", R"(V"x")"},
      {"<![CDATA[a]]]>", R"(V"a]")"},
      {"<![cdata[x]]>", R"(D"<![cdata[x]]>")"},
      // Other declarations, with nesting.
      {"<!DOCTYPE a SYSTEM \"a.dtd\">", R"(D"<!DOCTYPE a SYSTEM \"a.dtd\">")"},
      {"<!DOCTYPE a [<!ENTITY e \"v\"><!ELEMENT a ANY>]><a/>",
       R"(D"<!DOCTYPE a [<!ENTITY e \"v\"><!ELEMENT a ANY>]>",E(a)[])"},
      {"<!a>>", R"(D"<!a>",T">")"},
      {"<!ENTITY a \">\">", R"(D"<!ENTITY a \">",T"\">")"},
      {"<!x><!y>", R"(D"<!x><!y>")"},
      {"<!x> <!y>", R"(D"<!x>",T" ",D"<!y>")"},
      {"<!x<y", R"(D"<!x<y")"},
      {"<!", R"(D"<!")"},
      {"<!-", R"(D"<!-")"},
      // End tags.
      {"<a></a >", R"(E(a)[],T" >")"},
      {"<a></a x=1>", R"(E(a)[],T" x=1>")"},
      {"<a></a/>", R"(E(a)[],T"/>")"},
      {"</x y>", R"(T"</x>",T" y>")"},
      {"</ x>", R"(T"</x>")"},
      {"</p:x>", R"(T"</p:x>")"},
      {"</", R"(T"</>")"},
      {"</  ", R"(T"</>")"},
      {"<a></", R"(E(a)[T"</>"])"},
      {"<></>x", R"(E("")[],T"x")"},
      {"<a></A>", R"(E(a)[T"</A>"])"},
      {"<a></b></a>", R"(E(a)[T"</b>"])"},
      // Start tags and attributes.
      {"<a k=v t=\"1\" u>", R"(E(a k="v" t="1" u="")[])"},
      {"<a k = 'v' >", R"(E(a k="v")[])"},
      {"<a k='x\"y' j=\"x'y\">", R"(E(a k="x\"y" j="x'y")[])"},
      {"<a k=\"1\"j='2'>", R"(E(a k="1" j="2")[])"},
      {"<a k=1 k=2>", R"(E(a k="1" k="2")[])"},
      {"<a k=\"v>text</a>", R"(E(a k="v>text</a>")[])"},
      {"<a k='", R"(E(a k="")[])"},
      {"<a k=>x", R"(E(a k="")[T"x"])"},
      {"<a k= >x", R"(E(a k="")[T"x"])"},
      {"<a k=", R"(E(a k="")[])"},
      {"<a k", R"(E(a k="")[])"},
      {"<a", R"(E(a)[])"},
      {"<a =v>", R"(E(a ""="v")[])"},
      {"<a=b>", R"(E(a ""="b")[])"},
      {"<a<b>", R"(E(a<b)[])"},
      {"<a k=v/>x", R"(E(a k="v")[],T"x")"},
      {"<a href=http://x/y>", R"(E(a href="http:")[],T"/x/y>")"},
      {"<a/ >x", R"(E(a)[],T" >x")"},
      {"<a/x", R"(E(a)[],T"x")"},
      {"<a?>x", R"(E(a?)[T"x"])"},
      {"<a ?>x", R"(E(a)[],T"x")"},
      {"<a b?>x", R"(E(a b?="")[T"x"])"},
      {"<a ?x>", R"(E(a ?x="")[])"},
      {"<a k=\"&lt;&#x41;&#300;&nope;&amp\">", R"(E(a k="<A\300&nope;&amp")[])"},
      {"<a k=\"&a&b;\" j='a&b' i='&#xD800;&amp;'>", R"(E(a k="&a&b;" j="a&b" i="\55296&")[])"},
      {"<a t=\"x &amp; &nope;\">", R"(E(a t="x & &nope;")[])"},
      {"<a k='1' j='&#256;' i='&lt;'>", R"(E(a k="1" j="\256" i="<")[])"},
      {"<p:a/>", R"(E(p:a)[])"},
      {"<:a/>", R"(E("":a)[])"},
      {"<a:/>", R"(E(a:"")[])"},
      {"<a:b:c/>", R"(E(a:b:c)[])"},
      {"<x:a x:b=\"1\" xml:lang=en/>", R"(E(x:a x:b="1" xml:lang="en")[])"},
      {"<a/><b/>", R"(E(a)[],E(b)[])"},
      {"<a>1 < 2</a>", R"(E(a)[T"1 ",E(2<)[],T"a>"])"},
      // Processing instructions and the XML declaration are elements.
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>",
       R"(E(?xml version="1.0" encoding="UTF-8")[],T"\n",E(a)[])"},
      {"<?target some data ?>", R"(E(?target some="" data="")[])"},
      {"<?target some data?>x", R"(E(?target some="" data?="")[T"x"])"},
      {"<?pi x?>y", R"(E(?pi x?="")[T"y"])"},
      {"<?go?><x/>", R"(E(?go?)[E(x)[]])"},
      // Namespaces.
      {"<a xmlns=\"u\"><b/></a>", R"(E(a xmlns="u")[E(b)[]])"},
      {"<a xmlns=\"u\"><b xmlns=\"\"/><c/></a>", R"(E(a xmlns="u")[E(b xmlns="")[],E(c)[]])"},
      {"<a><b xmlns=\"u\"/><c/></a>", R"(E(a)[E(b xmlns="u")[],E(c)[]])"},
      {"<p:a xmlns:p=\"u\"/><p:b/>", R"(E(p:a xmlns:p="u")[],E(p:b)[])"},
      {"<a xmlns:p=\"\"><p:b/></a>", R"(E(a xmlns:p="")[E(p:b)[]])"},
      {"<a xmlns=\"u\"><p:b/></a>", R"(E(a xmlns="u")[E(p:b)[]])"},
      {"<a xmlns=\"&#300;\"/>", R"(E(a xmlns="\300")[])"},
      {"<a xmlns=\"u\" xmlns=\"v\"/>", R"(E(a xmlns="u" xmlns="v")[])"},
      // End tags match by URI when there is one, else by prefix.
      {"<p:a xmlns:p=\"u\" xmlns:q=\"u\"></q:a>x", R"(E(p:a xmlns:p="u" xmlns:q="u")[],T"x")"},
      {"<p:a xmlns:p=\"u\"><q:a xmlns:q=\"u\"></p:a>x",
       R"(E(p:a xmlns:p="u")[E(q:a xmlns:q="u")[],T"x"])"},
      {"<p:a xmlns:p=\"u\"><b xmlns:p=\"v\"></p:a></b>x",
       R"(E(p:a xmlns:p="u")[E(b xmlns:p="v")[T"</p:a>"],T"x"])"},
      {"<a xmlns=\"u\"><b xmlns=\"\"></a>", R"(E(a xmlns="u")[E(b xmlns="")[T"</a>"]])"},
      {"<a xmlns=\"u\"></a>x", R"(E(a xmlns="u")[],T"x")"},
      {"<p:a></q:a></p:a>x", R"(E(p:a)[T"</q:a>"],T"x")"},
      {"<a></p:a>", R"(E(a)[T"</p:a>"])"},
      {"<p:a></a>", R"(E(p:a)[T"</a>"])"},
      // The innermost matching element closes, with everything opened inside it.
      {"<a><b></a>", R"(E(a)[E(b)[]])"},
      {"<a><b>", R"(E(a)[E(b)[]])"},
      {"<a><b><a><c></a>x</b>y", R"(E(a)[E(b)[E(a)[E(c)[]],T"x"],T"y"])"},
      {"<a><b><c></a>x", R"(E(a)[E(b)[E(c)[]]],T"x")"},
      // Merging of adjacent text of one kind.
      {"a &amp; b", R"(T"a & b")"},
      {"x<b/>y", R"(T"x",E(b)[],T"y")"},
      {"<a>a</x>b</a>", R"(E(a)[T"a</x>",T"b"])"},
      {"</x></y>", R"(T"</x>",T"</y>")"},
      {"a</x></y>b", R"(T"a</x>",T"</y>",T"b")"},
      {"a</x>&lt;", R"(T"a</x>",T"<")"},
      {"a</x ><!-- -->b", R"(T"a</x>",T" >b")"},
      {"a<!x>b", R"(T"a",D"<!x>",T"b")"},
      // Everything at the top level is kept.
      {"<?xml version=\"1.0\"?>\n<!DOCTYPE d>\n<d/>\n</e>",
       R"(E(?xml version="1.0")[],T"\n",D"<!DOCTYPE d>",T"\n",E(d)[],T"\n</e>")"},
      // Several lines.
      {"a\nb<x>\n\n<y/>c\r\nd", R"(T"a\nb",E(x)[T"\n\n",E(y)[],T"c\nd"])"},
      {"\r\n\r<a/>", R"(T"\n\n",E(a)[])"},
      {"x\n&amp;\ny", R"(T"x\n&\ny")"},
      {"<a>\n&lt;</a>", R"(E(a)[T"\n<"])"},
      {"<a>\n\n&#65;</a>", R"(E(a)[T"\n\nA"])"},
      {"\n<!D\n>\n<![CDATA[\nv]]>\n</z>", R"(T"\n",D"<!D\n>",T"\n",V"\nv",T"\n</z>")"},
      {"<a\nk='\n'\n>\n</x>", R"(E(a k="\n")[T"\n</x>"])"},
  };
  return rows;
}

// The label tree holds one node per element, reference and non-blank text.
TEST(XmlReader, ParsesEveryConstructAsSpecifiedByTheTable) {
  for (const Row& row : parseRows()) {
    std::string document = row.input;
    Recorder events;
    parseXML(document, events);
    EXPECT_EQ(events.out, row.expected) << "input: " << row.input;
    EXPECT_EQ(nameTreeOf("in.xml", row.input).size(), 1 + events.nodes) << "input: " << row.input;
  }
}

TEST(XmlReader, TreeKeepsSlicesOfTheFoldedDocumentAndCopiesMergedText) {
  // A text that is one slice of the document, one merged from a resolved
  // reference, one wide and an unresolved reference: all as characters.
  const LabelTree t = nameTreeOf("p", "<a>x\r\ny<b>1&amp;2</b>&#960;&r;</a>");
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(toBytes(t.label(0)), "p");
  EXPECT_EQ(toBytes(t.label(1)), "<a />");
  EXPECT_EQ(toBytes(t.label(2)), "x\ny");
  EXPECT_EQ(toBytes(t.label(3)), "<b />");
  EXPECT_EQ(toBytes(t.label(4)), "1&2");
  EXPECT_TRUE(t.label(5).wide());
  EXPECT_EQ(toU32(t.label(5)), U"\u03C0");
  EXPECT_EQ(toBytes(t.label(6)), "r");
}

// ---- Hostile shapes: no recursion, and work in proportion to the input.

std::string repeat(std::string_view s, std::size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (std::size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST(XmlReader, MillionNestedStartTagsMakeAChainOfElements) {
  constexpr std::size_t kDepth = 1000000;
  const LabelTree t = nameTreeOf("deep.xml", repeat("<a>", kDepth));
  ASSERT_EQ(t.size(), kDepth + 1);
  for (NodeIndex n = 1; n <= kDepth; ++n) ASSERT_EQ(t.subtreeSize(n), kDepth + 1 - n);
  EXPECT_EQ(toBytes(t.label(kDepth)), "<a />");
}

// Counts the scan's work and nothing else.
struct WorkCounter {
  std::uint64_t units = 0;
  void examined(std::uint64_t n) { units += n; }
  void startElement(const StartTag&) {}
  void endElement() {}
  void text(CDataKind, Label, bool) {}
  void reference(std::string_view) {}
};

std::uint64_t readerWork(std::string text) {
  WorkCounter counter;
  parseXML(text, counter);
  return counter.units;
}

// No rule may look at a byte more than a few times, whatever the input.
TEST(XmlReader, HostileInputsTakeLinearWork) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"unclosed start tags then unmatched end tags",
       repeat("<a>", 100000) + repeat("</b>", 100000)},
      {"unclosed start tags then matching end tags",
       repeat("<a><b>", 50000) + repeat("</a>", 50000)},
      {"ampersands without a semicolon", repeat("&", 1000000)},
      {"ampersands and one semicolon", repeat("&", 1000000) + ";"},
      {"ampersands in a value", "<a k='" + repeat("&", 1000000) + "'>"},
      {"ampersands in unquoted values", repeat("<a k=&&&&&&&&&&&&>", 100000)},
      {"unclosed quote", "<a k=\"" + repeat("x", 1000000)},
      {"unclosed comments", repeat("<!--", 250000)},
      {"unclosed comment of dashes", "<!--" + repeat("-", 1000000)},
      {"unclosed CDATA sections", repeat("<![CDATA[", 100000)},
      {"nested declarations", repeat("<!", 500000)},
      {"nested and closed declarations", repeat("<!", 250000) + repeat(">", 250000)},
      {"white space after <", std::string("<") + repeat(" ", 1000000) + "a>"},
      {"many < and white space", repeat("< ", 500000)},
      {"merged references", repeat("&lt;x", 200000)},
      {"wide references", repeat("&#960;", 150000)},
      {"unmatched end tags with attributes", repeat("</x y='1'>", 100000)},
      {"many namespace bindings",
       repeat("<p:a xmlns:p='u' xmlns='v'>", 30000) + repeat("</p:a>", 30000)},
  };
  for (const auto& [what, doc] : cases) {
    const std::uint64_t work = readerWork(doc);
    EXPECT_LE(work, 4 * doc.size() + 16) << what;
    EXPECT_GE(work, doc.size() / 2) << what << ": the count is live";
  }
}

TEST(XmlReader, UnmatchedEndTagsUnderManyOpenElementsBecomeSeparateTexts) {
  constexpr std::size_t kCount = 100000;
  const std::string doc = repeat("<a>", kCount) + repeat("</b>", kCount);
  const LabelTree t = nameTreeOf("x", doc);
  ASSERT_EQ(t.size(), 1 + 2 * kCount);
  const NodeIndex innermost = kCount;  // the chain of elements is nodes 1..kCount
  EXPECT_EQ(toBytes(t.label(innermost)), "<a />");
  EXPECT_EQ(qvtest::childCount(t, innermost), kCount);
  EXPECT_EQ(toBytes(t.label(innermost + 1)), "</b>");
  EXPECT_EQ(toBytes(t.label(2 * kCount)), "</b>");
}

}  // namespace
}  // namespace qv
