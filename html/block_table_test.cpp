#include "html/block_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include "html/html.h"
#include "tree/error.h"

namespace qv {
namespace {

using Rows = std::vector<std::vector<std::tuple<int, int, int>>>;  // payload, colspan, rowspan

// The table as a literal generator of rows from the extra spans (X, Y), joined
// pairwise and folded from the right: the definition the grid must agree with.
struct RefTable {
  int w, h;
  std::function<Rows(int, int)> rows;
};

RefTable refSingle(int p) {
  return {1, 1, [p](int x, int y) { return Rows{{{p, x + 1, y + 1}}}; }};
}

RefTable refBeside(RefTable a, RefTable b) {
  const int h = std::max(a.h, b.h);
  return {a.w + b.w, h, [a, b, h](int x, int y) {
            Rows l = a.rows(0, y + h - a.h), r = b.rows(x, y + h - b.h);
            Rows out;
            for (std::size_t i = 0; i < std::max(l.size(), r.size()); ++i) {
              out.emplace_back();
              if (i < l.size()) out.back() = l[i];
              if (i < r.size()) out.back().insert(out.back().end(), r[i].begin(), r[i].end());
            }
            return out;
          }};
}

RefTable refAbove(RefTable a, RefTable b) {
  return {std::max(a.w, b.w), a.h + b.h, [a, b](int x, int y) {
            Rows top = a.rows(x + std::max(0, b.w - a.w), 0);
            Rows bottom = b.rows(x + std::max(0, a.w - b.w), y);
            top.insert(top.end(), bottom.begin(), bottom.end());
            return top;
          }};
}

RefTable refFold(std::vector<RefTable> ts, RefTable (*join)(RefTable, RefTable)) {
  RefTable acc = ts.back();
  for (std::size_t i = ts.size() - 1; i-- > 0;) acc = join(ts[i], acc);
  return acc;
}

Rows rowsOf(const BlockTable<int>& t, int x, int y) {
  Rows out;
  for (std::size_t i = 0; i < t.rowCount(); ++i) {
    out.emplace_back();
    for (const auto& c : t.row(i))
      out.back().emplace_back(c.payload, c.colSpanAt(x), c.rowSpanAt(y));
  }
  return out;
}

// Builds a random table expression both ways, with payloads numbered in order.
std::pair<BlockTable<int>, RefTable> randomTable(std::mt19937& rng, int depth, int& next) {
  const int kind = depth == 0 ? 0 : static_cast<int>(rng() % 5);
  if (kind == 0) {
    const int p = next++;
    return {single(p), refSingle(p)};
  }
  if (kind <= 2) {
    // An n-ary join against the right fold of the binary one.
    std::vector<BlockTable<int>> ts;
    std::vector<RefTable> refs;
    const int n = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < n; ++i) {
      auto [t, r] = randomTable(rng, depth - 1, next);
      ts.push_back(std::move(t));
      refs.push_back(std::move(r));
    }
    if (kind == 1) return {besides(std::move(ts)), refFold(std::move(refs), refBeside)};
    return {aboves(std::move(ts)), refFold(std::move(refs), refAbove)};
  }
  auto [a, ra] = randomTable(rng, depth - 1, next);
  auto [b, rb] = randomTable(rng, depth - 1, next);
  if (kind == 3) return {above(std::move(a), std::move(b)), refAbove(ra, rb)};
  return {combine(std::move(a), std::move(b), Direction::Horizontal), refBeside(ra, rb)};
}

TEST(BlockTable, GridJoinsAgreeWithRightFoldOfPairwiseJoins) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; ++round) {
    int next = 0;
    auto [t, ref] = randomTable(rng, 1 + round % 5, next);
    ASSERT_EQ(t.width(), ref.w);
    ASSERT_EQ(t.height(), ref.h);
    ASSERT_EQ(t.rowCount(), static_cast<std::size_t>(t.height()));
    for (auto [x, y] : std::initializer_list<std::pair<int, int>>{{0, 0}, {2, 0}, {0, 3}, {1, 5}}) {
      ASSERT_EQ(rowsOf(t, x, y), ref.rows(x, y)) << "round " << round << " X " << x << " Y " << y;
    }
  }
}

TEST(BlockTable, ShortSidesStretchToTheEdges) {
  // a and b stacked beside c: c spans both rows; under a row of three, the upper part is one
  // column short, which its right-edge cells (b and c) absorb.
  std::vector<BlockTable<int>> ab;
  ab.push_back(single(1));
  ab.push_back(single(2));
  std::vector<BlockTable<int>> top;
  top.push_back(aboves(std::move(ab)));
  top.push_back(single(3));
  std::vector<BlockTable<int>> bottom;
  for (int p : {4, 5, 6}) bottom.push_back(single(p));
  const BlockTable<int> t = above(besides(std::move(top)), besides(std::move(bottom)));
  EXPECT_EQ(rowsOf(t, 0, 0),
            (Rows{{{1, 1, 1}, {3, 2, 2}}, {{2, 1, 1}}, {{4, 1, 1}, {5, 1, 1}, {6, 1, 1}}}));
}

TEST(BlockTable, EmptyJoinsAreFatal) {
  struct Case {
    std::function<void()> run;
    std::string message;
  };
  const Case cases[] = {
      {[] { besides(std::vector<BlockTable<int>>{}); }, "besides []"},
      {[] { aboves(std::vector<BlockTable<int>>{}); }, "aboves []"},
      {[] { rowsTable({}, {}, {}); }, "aboves []"},
      {[] {
         std::vector<std::vector<HtmlFragment>> rows(2);
         rows[0].push_back(rawText("a"));
         rowsTable({}, {}, std::move(rows));
       },
       "besides []"},
  };
  for (const Case& c : cases) {
    try {
      c.run();
      ADD_FAILURE() << "no error, expected " << c.message;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), Error::Kind::Program);
      EXPECT_EQ(e.message(), c.message);
    }
  }
}

// Counts moves, so a join that shuffles cells more than a bounded number of times per cell
// (a fold that rebuilds its accumulator, say) fails.
struct Counted {
  static inline std::size_t moves = 0;
  Counted() = default;
  Counted(Counted&&) noexcept { ++moves; }
  Counted& operator=(Counted&&) noexcept {
    ++moves;
    return *this;
  }
};

TEST(BlockTable, MillionCellRowAndMillionRowsBuildInLinearWork) {
  constexpr std::size_t kCells = 1000000;
  for (Direction d : {Direction::Horizontal, Direction::Vertical}) {
    std::vector<BlockTable<Counted>> ts;
    ts.reserve(kCells);
    for (std::size_t i = 0; i < kCells; ++i) ts.push_back(single(Counted{}));
    Counted::moves = 0;
    const BlockTable<Counted> t =
        d == Direction::Horizontal ? besides(std::move(ts)) : aboves(std::move(ts));
    EXPECT_LE(Counted::moves, 2 * kCells);
    if (d == Direction::Horizontal) {
      EXPECT_EQ(t.width(), static_cast<std::int32_t>(kCells));
      EXPECT_EQ(t.height(), 1);
      EXPECT_EQ(t.row(0).back().colSpan, 1);
      EXPECT_TRUE(t.row(0).back().takesExtraCols);
      EXPECT_FALSE(t.row(0).front().takesExtraCols);
    } else {
      EXPECT_EQ(t.height(), static_cast<std::int32_t>(kCells));
      EXPECT_EQ(t.rowCount(), kCells);
      EXPECT_TRUE(t.row(kCells - 1).front().takesExtraRows);
      EXPECT_FALSE(t.row(0).front().takesExtraRows);
    }
  }
}

TEST(BlockTable, RowsTableSpansShortRowsToTheWidest) {
  struct Case {
    std::vector<int> rowLengths;
    std::vector<std::vector<std::string>> colspans;  // "" for none
  };
  const Case cases[] = {
      {{1}, {{""}}},
      {{3, 3}, {{"", "", ""}, {"", "", ""}}},
      {{1, 3}, {{"3"}, {"", "", ""}}},
      {{2, 2, 1}, {{"", ""}, {"", ""}, {"2"}}},
      {{4, 4, 2}, {{"", "", "", ""}, {"", "", "", ""}, {"", "3"}}},
      {{2, 1, 2}, {{"", ""}, {"2"}, {"", ""}}},
      {{1, 2, 3}, {{"3"}, {"", "2"}, {"", "", ""}}},
  };
  for (const Case& c : cases) {
    std::vector<std::vector<HtmlFragment>> rows;
    for (int n : c.rowLengths) rows.emplace_back(static_cast<std::size_t>(n));
    const HtmlFragment table = rowsTable({{"T", "1"}}, {{"C", "x"}}, std::move(rows));
    ASSERT_EQ(table.size(), 1u);
    const HtmlTag& t = *table[0].tag();
    EXPECT_EQ(t.tagName, "TABLE");
    EXPECT_EQ(t.tagAttrs, (std::vector<HtmlAttr>{{"T", "1"}}));
    std::vector<std::vector<std::string>> spans;
    for (const HtmlNode& tr : t.tagContent) {
      EXPECT_EQ(tr.tag()->tagName, "TR");
      EXPECT_TRUE(tr.tag()->tagAttrs.empty());
      spans.emplace_back();
      for (const HtmlNode& td : tr.tag()->tagContent) {
        const auto& attrs = td.tag()->tagAttrs;
        EXPECT_EQ(td.tag()->tagName, "TD");
        ASSERT_GE(attrs.size(), 1u);
        EXPECT_EQ(attrs[0], (HtmlAttr{"C", "x"}));
        ASSERT_LE(attrs.size(), 2u);
        if (attrs.size() == 2) {
          EXPECT_EQ(attrs[1].attrName, "COLSPAN");
        }
        spans.back().push_back(attrs.size() == 2 ? attrs[1].attrValue : "");
      }
    }
    EXPECT_EQ(spans, c.colspans) << ::testing::PrintToString(c.rowLengths);
  }
}

TEST(BlockTable, CellsGetColspanThenRowspanAfterTheirOwnAttributes) {
  auto cell = [](const char* text) {
    return tableCell(element("TD", {{"K", "v"}}, rawText(text)));
  };
  std::vector<BlockTable<HtmlFragment>> ab, top, bottom;
  ab.push_back(cell("a"));
  ab.push_back(cell("b"));
  top.push_back(aboves(std::move(ab)));
  top.push_back(cell("c"));
  for (const char* s : {"d", "e", "f"}) bottom.push_back(cell(s));
  const HtmlFragment trs = tableRows(above(besides(std::move(top)), besides(std::move(bottom))));
  std::string out;
  for (const HtmlNode& n : trs) out += renderHtml(0, n);
  EXPECT_EQ(out,
            "<TR\n>"
            "<TD K = \"v\"\n  >a</TD\n  >"
            "<TD K = \"v\" COLSPAN = \"2\" ROWSPAN = \"2\"\n  >c</TD\n  >"
            "</TR\n>"
            "<TR\n><TD K = \"v\"\n  >b</TD\n  ></TR\n>"
            "<TR\n><TD K = \"v\"\n  >d</TD\n  ><TD K = \"v\"\n  >e</TD\n  >"
            "<TD K = \"v\"\n  >f</TD\n  ></TR\n>");
}

}  // namespace
}  // namespace qv
