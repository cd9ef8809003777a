#include "diag/quote.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(QuotedText, EscapesEveryCharacterClass) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"in.xml", R"("in.xml")"},
      {"C:\\out.html", R"("C:\\out.html")"},
      {"a\"b\n", R"("a\"b\n")"},
      {"it's", R"("it's")"},
      {"\t", R"("\t")"},
      {std::string("\a\b\t\n\v\f\r", 7), R"("\a\b\t\n\v\f\r")"},
      {std::string("\0\x01\x06", 3), R"("\NUL\SOH\ACK")"},
      {"\x0e", R"("\SO")"},
      {"\x0eH", R"("\SO\&H")"},
      {"\x0eh", R"("\SOh")"},
      {"\x0f\x10\x1b\x1f", R"("\SI\DLE\ESC\US")"},
      {"\x7f", R"("\DEL")"},
      {"\xe9"
       "1.html",
       R"("\233\&1.html")"},
      {"\xe9"
       "0",
       R"("\233\&0")"},
      {"\xe9.html", R"("\233.html")"},
      {"\xe9\xe9", R"("\233\233")"},
      {"\x80"
       "9",
       R"("\128\&9")"},
      {"~ }", R"("~ }")"},
  };
  for (const Case& c : cases) EXPECT_EQ(quotedText(c.in), c.out) << c.in;
}

TEST(QuotedText, WideCodesAreDecimal) {
  EXPECT_EQ(quotedText(std::u32string_view(U"\u0100"
                                           "1")),
            R"("\256\&1")");
  EXPECT_EQ(quotedText(std::u32string_view(U"a\U0010FFFF")), R"("a\1114111")");
}

}  // namespace
}  // namespace qv
