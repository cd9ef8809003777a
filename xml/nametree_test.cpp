#include "xml/nametree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/diag.h"
#include "tests/labels.h"
#include "tests/string_sink.h"
#include "xml/reader.h"

namespace qv {
namespace {

using qvtest::toBytes;

using qvtest::collect;

std::string drawn(const LabelTree& t) {
  return collect([&](Output& out) { showTree(out, t); });
}

std::string labelOfFirst(std::string_view doc) {
  return toBytes(nameTreeOf("in.xml", std::string(doc)).label(1));
}

TEST(LabelTree, ElementLabelIsTheStartTagWrittenAsAnEmptyTag) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"<item id=\"7\" xml:lang=\"en\">...</item>", "<item id=\"7\" xml:lang=\"en\" />"},
      {"<b/>", "<b />"},
      {"<b>", "<b />"},
      {"<x:a x:b=\"1\"/>", "<x:a x:b=\"1\" />"},
      {"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\" ?>"},
      {"<?go?>", "<?go? ?>"},
      {"<p:?x/>", "<p:?x ?>"},
      {"<?p:x/>", "<?p:x />"},
      {"<:a :k=1/>", "<:a :k=\"1\" />"},
      {"<a u k='' j>", "<a u=\"\" k=\"\" j=\"\" />"},
      {"<>", "< />"},
      {"<a xmlns=\"u\" xmlns:p='v'>", "<a xmlns=\"u\" xmlns:p=\"v\" />"},
      // Attribute values are escaped; codes above 127 become one reference per byte.
      {"<a k='\"&lt;&gt;&amp;&apos;'/>", "<a k=\"&quot;&lt;&gt;&amp;&#39;\" />"},
      {"<a k='x\ty\nz'/>", "<a k=\"x&#9;y\nz\" />"},
      {"<a k='\xC3\xA9'/>", "<a k=\"&#195;&#169;\" />"},
      {"<a k='&#960;&#x10FFFF;&#127;&#0;'/>", "<a k=\"&#960;&#1114111;&#127;&#0;\" />"},
      {"<a k='&nope;'/>", "<a k=\"&amp;nope;\" />"},
  };
  for (const auto& [doc, label] : rows) EXPECT_EQ(labelOfFirst(doc), label) << doc;
}

TEST(LabelTree, EscapeAttrValueWritesEveryCodeAsTheTableSays) {
  const std::vector<std::pair<std::u32string, std::string>> rows = {
      {U"", ""},
      {U"plain text 0-9 ~!", "plain text 0-9 ~!"},
      {U"<>&\"'", "&lt;&gt;&amp;&quot;&#39;"},
      {U"a\nb\rc", "a\nb\rc"},
      {std::u32string(U"\0\x01\t\x1f\x7f", 5), "&#0;&#1;&#9;&#31;&#127;"},
      {U"\x80\xA0\xFF", "&#128;&#160;&#255;"},
      {U"\x100\xD800\x10FFFF", "&#256;&#55296;&#1114111;"},
  };
  for (const auto& [value, escaped] : rows) {
    std::string out = ">";
    escapeAttrValue(out, Label(std::u32string_view(value)));
    EXPECT_EQ(out, ">" + escaped);
  }
  std::string out;
  escapeAttrValue(out, Label("\xE9 & \x01"));
  EXPECT_EQ(out, "&#233; &amp; &#1;");
}

TEST(LabelTree, BlankTextIsOnlyTabToCarriageReturnSpaceAndNoBreakSpace) {
  EXPECT_TRUE(isBlankText(Label("")));
  EXPECT_TRUE(isBlankText(Label("\t\n\v\f\r \xA0")));
  EXPECT_TRUE(isBlankText(Label(std::u32string_view(U"\xA0 \t"))));
  for (const char* text : {"x", " x ", "\x08", "\x0E", "\x1F", "\x85", "\xA1", "\x7F"}) {
    EXPECT_FALSE(isBlankText(Label(text))) << static_cast<int>(text[0]);
  }
  EXPECT_FALSE(isBlankText(Label(std::u32string_view(U"\x2003"))));
  EXPECT_FALSE(isBlankText(Label(std::u32string_view(U" \x1A0"))));
}

// The label tree as the tool draws it.
struct Drawing {
  std::string document;
  std::string drawing;
};

TEST(LabelTree, DrawingsOfDocumentsAsTheToolShowsThem) {
  const std::vector<Drawing> rows = {
      {"", "in.xml\n\n"},
      {"<!-- c -->  \n ", "in.xml\n\n"},
      {"<?xml version=\"1.0\"?><root><a x=\"1\">hello</a><b/></root>",
       "in.xml\n|\n+- <?xml version=\"1.0\" ?>\n|\n`- <root />\n   |\n   +- <a x=\"1\" />\n"
       "   |  |\n   |  `- hello\n   |\n   `- <b />\n\n"},
      {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>\n",
       "in.xml\n|\n+- <?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n|\n`- <a />\n\n"},
      {"<a>  </a>", "in.xml\n|\n`- <a />\n\n"},
      {"<a> x </a>", "in.xml\n|\n`- <a />\n   |\n   `-  x \n\n"},
      {"<a>\xA0\xA0&#160;<![CDATA[ \t ]]>\r\n</a>", "in.xml\n|\n`- <a />\n\n"},
      {"<a><![CDATA[]]></a>", "in.xml\n|\n`- <a />\n\n"},
      {"<a>1<b/>2</a>", "in.xml\n|\n`- <a />\n   |\n   +- 1\n   |\n   +- <b />\n   |\n   `- 2\n\n"},
      {"<a k='&lt;\"&amp;&apos;'>&lt;\"&amp;'</a>",
       "in.xml\n|\n`- <a k=\"&lt;&quot;&amp;&#39;\" />\n   |\n   `- <\"&'\n\n"},
      {"<a k='\t'/>", "in.xml\n|\n`- <a k=\"&#9;\" />\n\n"},
      {"<x:a x:b=\"1\"><y:c/></x:a>", "in.xml\n|\n`- <x:a x:b=\"1\" />\n   |\n   `- <y:c />\n\n"},
      {"<a>one\r\ntwo</a>", "in.xml\n|\n`- <a />\n   |\n   `- one\ntwo\n\n"},
      {"<a>\ntext</a><b/>", "in.xml\n|\n+- <a />\n|  |\n|  `- \ntext\n|\n`- <b />\n\n"},
      {"<!DOCTYPE a>\n<a>&nbsp;&#65;</a>",
       "in.xml\n|\n+- <!DOCTYPE a>\n|\n`- <a />\n   |\n   +- nbsp\n   |\n   `- A\n\n"},
      {"stray</x> text", "in.xml\n|\n+- stray</x>\n|\n`-  text\n\n"},
      // Codes above 255 go out as UTF-8, surrogates in their three-byte form.
      {"&#xE9;&#x20AC;", "in.xml\n|\n`- \xE9\xE2\x82\xAC\n\n"},
      {"&#xD800;", "in.xml\n|\n`- \xED\xA0\x80\n\n"},
      {"<a k='&#x20AC;'/>", "in.xml\n|\n`- <a k=\"&#8364;\" />\n\n"},
      // Blank text goes, a reference and a declaration stay, wherever they are.
      {" <a>x</a>\n&r;<![CDATA[ ]]><!D>y",
       "in.xml\n|\n+- <a />\n|  |\n|  `- x\n|\n+- r\n|\n+- <!D>\n|\n`- y\n\n"},
  };
  for (const Drawing& row : rows) {
    EXPECT_EQ(drawn(nameTreeOf("in.xml", row.document)), row.drawing) << row.document;
  }
}

TEST(LabelTree, RootLabelIsTheInputPathAsTyped) {
  const LabelTree t = nameTreeOf("dir/ \xE9.xml", "<a/>");
  EXPECT_EQ(toBytes(t.label(0)), "dir/ \xE9.xml");
  EXPECT_EQ(toBytes(nameTreeOf("", "").label(0)), "");
}

}  // namespace
}  // namespace qv
