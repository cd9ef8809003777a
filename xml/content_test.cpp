#include "xml/content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv {
namespace {

QName local(std::string name) {
  return QName{std::move(name), std::nullopt, std::nullopt};
}

// A chain of elements nested depth levels deep, built from the inside out.
Element chain(std::size_t depth, const std::string& name) {
  Element inner(local(name));
  for (std::size_t i = 1; i < depth; ++i) {
    std::vector<Content> content;
    content.reserve(2);
    content.emplace_back(std::move(inner));
    content.emplace_back(CData{CDataKind::CDataText, U"t", std::nullopt});
    inner = Element(local(name), {}, std::move(content));
  }
  return inner;
}

TEST(Content, MillionDeepModelIsDestroyedAndOverwrittenWithoutRecursion) {
  constexpr std::size_t kDepth = 1000000;
  Element e = chain(kDepth, "a");
  std::size_t depth = 1;
  for (const Element* at = &e; !at->elContent.empty(); at = &at->elContent[0].elem()) ++depth;
  EXPECT_EQ(depth, kDepth);
  e = chain(kDepth, "b");  // the old chain goes away in the assignment
  EXPECT_EQ(e.elName.qName, "b");
  std::vector<Content> items;
  items.emplace_back(std::move(e));
  items.clear();
  EXPECT_TRUE(items.empty());
}

TEST(Content, DumpShowsNamesUrisValuesKindsAndLines) {
  std::vector<Content> inner;
  inner.emplace_back(CData{CDataKind::CDataVerbatim, U"v\"\\", 2});
  inner.emplace_back(CData{CDataKind::CDataRaw, U"<!x>", std::nullopt});
  inner.emplace_back(CRef{"nbsp"});
  inner.emplace_back(Element(QName{"", std::u32string(), std::string("p q")}));
  std::vector<Attr> attrs;
  attrs.push_back({QName{"k", std::nullopt, std::string("x")}, U"1\x100"});
  attrs.push_back({local("a(b)"), U""});
  std::vector<Content> items;
  items.emplace_back(
      Element(QName{"e", U"urn:u", std::nullopt}, std::move(attrs), std::move(inner), 1));
  items.emplace_back(CData{CDataKind::CDataText, U"\n", 3});
  EXPECT_EQ(
      dumpContents(items),
      R"x(E({"urn:u"}e x:k="1\256" "a(b)"="")[V"v\"\\",D"<!x>",R"nbsp",E({""}"p q":"")[]],T"\n")x");
  EXPECT_EQ(
      dumpContents(items, true),
      R"x(E@1({"urn:u"}e x:k="1\256" "a(b)"="")[V@2"v\"\\",D@-"<!x>",R"nbsp",E@-({""}"p q":"")[]],T@3"\n")x");
}

}  // namespace
}  // namespace qv
