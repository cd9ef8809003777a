#include "treemap/layout.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "tree/error.h"

namespace qv {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
using Numbered = std::pair<std::int32_t, Label>;

std::string text(BoxSize s) {
  std::string out = "(";
  out += std::to_string(s.width);
  out += ", ";
  out += std::to_string(s.height);
  out += ")";
  return out;
}

// A root with leaf children, numbered the way the page numbers them: the last child
// gets 2, the first the largest number.
NumberedTree rootWithLeaves(Label root, const std::vector<Label>& leaves) {
  TreeBuilder<Numbered> b;
  b.open({1, root});
  std::int32_t id = static_cast<std::int32_t>(leaves.size()) + 1;
  for (Label l : leaves) b.leaf({id--, l});
  return std::move(b).finish();
}

NumberedTree rootWithLeaves(Label root, std::size_t count, Label name) {
  return rootWithLeaves(root, std::vector<Label>(count, name));
}

// root(1) with a(7), bb(6), x(3) holding y(5) and z(4), and the two-line leaf c\nc(2).
NumberedTree workedExample() {
  TreeBuilder<Numbered> b;
  b.open({1, "root"});
  b.leaf({7, "a"});
  b.leaf({6, "bb"});
  b.open({3, "x"});
  b.leaf({5, "y"});
  b.leaf({4, "z"});
  b.close();
  b.leaf({2, "c\nc"});
  return std::move(b).finish();
}

TableBox onlyTable(const std::vector<TableBox>& grid) {
  EXPECT_EQ(grid.size(), 1u);
  return grid.front();
}

TEST(TextSize, LongestLineByLineCount) {
  struct Case {
    Label in;
    BoxSize want;
  };
  const std::u32string_view wide = U"\u0100\u2603\n\U0010FFFF";
  const Case cases[] = {
      {"", {0, 0}},
      {"a", {1, 1}},
      {"ab\ncde", {3, 2}},
      {"abc\n", {3, 1}},
      {"\n", {0, 1}},
      {"\n\n", {0, 2}},
      {"a\n\nb", {1, 3}},
      {"\r\t x", {4, 1}},
      {"abc\r\nd", {4, 2}},
      {wide, {2, 2}},
      {std::u32string_view(U""), {0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(textSize(c.in), c.want) << toBytes(c.in);
}

TEST(AspectRatio, ShorterSideOverLongerInSinglePrecision) {
  struct Case {
    BoxSize in;
    float want;
  };
  const Case cases[] = {
      {{0, 0}, 1.0f},
      {{3, 3}, 1.0f},
      {{1, 2}, 0.5f},
      {{2, 1}, 0.5f},
      {{0, 7}, 0.0f},
      {{7, 0}, 0.0f},
      {{4, 6}, 4.0f / 6.0f},
      // Each side is rounded to float before dividing: both become 2^24.
      {{16777217, 16777216}, 1.0f},
      {{1, kMax}, 1.0f / 2147483648.0f},
  };
  for (const Case& c : cases) EXPECT_EQ(aspectRatio(c.in), c.want) << text(c.in);
}

TEST(TableSize, RowsOfColsCellsWidestRowBySummedHeights) {
  const auto cells = [](std::vector<const char*> names) {
    std::vector<Box> boxes;
    for (const char* n : names) boxes.push_back(BoxText(n, 1));
    return boxes;
  };
  const std::vector<Box> ten = cells({"a", "a", "a", "a", "a", "a", "a", "a", "a", "a"});
  struct Case {
    TableBox in;
    BoxSize want;
  };
  const Case cases[] = {
      {TableBox(4, ten), {4, 3}},
      {TableBox(1, ten), {1, 10}},
      {TableBox(10, ten), {10, 1}},
      {TableBox(kMax, ten), {10, 1}},
      {TableBox(2, cells({"bb", "a\nb\nc", "ccc"})), {3, 4}},
      {TableBox(2, cells({"bb", "a\nb\nc", "ccccc", "\n"})), {5, 4}},
      {TableBox(3, {}), {0, 0}},
      {TableBox(0, {}), {0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(tableSize(c.in), c.want) << showTableBox(0, c.in);
}

TEST(TableSize, ColumnsBelowOneWithCellsIsAFatalError) {
  for (std::int32_t cols : {0, -1}) {
    try {
      tableSize(TableBox(cols, {BoxText("a", 1)}));
      FAIL() << cols;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), Error::Kind::Program);
      EXPECT_EQ(e.message(), "table of 1 cells with " + std::to_string(cols) + " columns");
    }
  }
}

TEST(Layout, WorkedExampleOrdersCellsAndPicksFourColumns) {
  const Box root = treeMapLBox(workedExample());
  EXPECT_EQ(showBox(0, root),
            R"(BoxGrid {boName = "root", boId = 1, boGrid = [TableBox {tbCols = 4, tbCels = [)"
            R"(BoxText {boName = "a", boId = 7},BoxText {boName = "bb", boId = 6},)"
            R"(BoxText {boName = "c\nc", boId = 2},)"
            R"(BoxGrid {boName = "x", boId = 3, boGrid = [TableBox {tbCols = 1, tbCels = [)"
            R"(BoxText {boName = "y", boId = 5},BoxText {boName = "z", boId = 4}]}]}]}]})");
  EXPECT_EQ(boxSize(root), (BoxSize{5, 6}));
  const TableBox table = onlyTable(boGrid(root));
  EXPECT_EQ(tableSize(table), (BoxSize{5, 4}));
  std::vector<BoxSize> sizes;
  for (const Box& b : table.tbCels) sizes.push_back(boxSize(b));
  EXPECT_EQ(sizes, (std::vector<BoxSize>{{1, 1}, {2, 1}, {1, 2}, {1, 4}}));
  // The candidates that lose: 1 column (2, 8), 2 columns (3, 5), 3 columns (4, 6).
  EXPECT_EQ(tableSize(TableBox(1, table.tbCels)), (BoxSize{2, 8}));
  EXPECT_EQ(tableSize(TableBox(2, table.tbCels)), (BoxSize{3, 5}));
  EXPECT_EQ(tableSize(TableBox(3, table.tbCels)), (BoxSize{4, 6}));
  EXPECT_EQ(chooseCols(table.tbCels), 4);

  // The same boxes built by hand, in child order, come out of mkTableBox the same way.
  const Box x = BoxGrid("x", 3, {TableBox(1, {BoxText("y", 5), BoxText("z", 4)})});
  const std::vector<Box> children = {BoxText("a", 7), BoxText("bb", 6), x, BoxText("c\nc", 2)};
  const TableBox made = mkTableBox(children);
  EXPECT_EQ(made, table);
  EXPECT_EQ(root, BoxGrid("root", 1, {made}));
}

TEST(Layout, ColumnCountsOfRowsOfUnitLeaves) {
  struct Case {
    std::size_t leaves;
    std::int32_t cols;
    BoxSize table;
  };
  const Case cases[] = {
      {1, 1, {1, 1}},  {2, 1, {1, 2}},  {3, 2, {2, 2}},       {4, 2, {2, 2}},
      {5, 2, {2, 3}},  {6, 2, {2, 3}},  {7, 3, {3, 3}},       {9, 3, {3, 3}},
      {12, 3, {3, 4}}, {60, 8, {8, 8}}, {3000, 50, {50, 60}},
  };
  for (const Case& c : cases) {
    const Box root = treeMapLBox(rootWithLeaves("r", c.leaves, "x"));
    const TableBox table = onlyTable(boGrid(root));
    EXPECT_EQ(table.tbCols, c.cols) << c.leaves;
    EXPECT_EQ(table.tbCels.size(), c.leaves);
    EXPECT_EQ(tableSize(table), c.table) << c.leaves;
    EXPECT_EQ(chooseCols(std::vector<Box>(c.leaves, BoxText("x", 1))), c.cols) << c.leaves;
  }
  EXPECT_EQ(chooseCols({}), 1);
}

TEST(Layout, CellsSortByHeightThenWidthThenChildOrder) {
  // bb (2, 1), a (1, 1), c\nc (1, 2): a, bb, the two-line leaf; 2 columns, (3, 3).
  const Box r = treeMapLBox(rootWithLeaves("r", {"bb", "a", "c\nc"}));
  EXPECT_EQ(showBox(0, r),
            R"(BoxGrid {boName = "r", boId = 1, boGrid = [TableBox {tbCols = 2, tbCels = [)"
            R"(BoxText {boName = "a", boId = 3},BoxText {boName = "bb", boId = 4},)"
            R"(BoxText {boName = "c\nc", boId = 2}]}]})");
  EXPECT_EQ(tableSize(onlyTable(boGrid(r))), (BoxSize{3, 3}));
  EXPECT_EQ(boxSize(r), (BoxSize{3, 5}));

  // Equal sizes keep child order; wider-but-shorter goes before narrower-but-taller.
  const TableBox t = mkTableBox({BoxText("q", 1), BoxText("p\n", 2), BoxText("wide", 3),
                                 BoxText("o", 4), BoxText("\n\n", 5), BoxText("m\nm", 6)});
  std::string order;
  for (const Box& b : t.tbCels) order += std::to_string(boId(b));
  EXPECT_EQ(order, "124356");
}

TEST(Layout, BoxesKeepTheTreeStorageAlive) {
  Box root = BoxText("", 0);
  {
    auto text = std::make_shared<std::string>("parentchild");
    const std::string_view all = *text;
    TreeBuilder<Numbered> b;
    b.open({1, all.substr(0, 6)});
    b.leaf({2, all.substr(6)});
    root = treeMapLBox(std::move(b).finish(std::move(text)));
  }  // the tree and the last other owner of its characters are gone
  EXPECT_EQ(showBox(0, root),
            R"(BoxGrid {boName = "parent", boId = 1, boGrid = [TableBox {tbCols = 1, tbCels = [)"
            R"(BoxText {boName = "child", boId = 2}]}]})");
}

TEST(Layout, OneNodeTreeIsALeafAndNamesWiderThanTablesSetTheWidth) {
  TreeBuilder<Numbered> b;
  b.leaf({1, "only"});
  const Box one = treeMapLBox(std::move(b).finish());
  EXPECT_EQ(one, BoxText("only", 1));
  EXPECT_EQ(boxSize(one), (BoxSize{4, 1}));

  EXPECT_EQ(boxSize(treeMapLBox(rootWithLeaves("r", {"a"}))), (BoxSize{1, 3}));
  EXPECT_EQ(boxSize(treeMapLBox(rootWithLeaves("abcdef", {"a"}))), (BoxSize{6, 3}));
}

TEST(Layout, GridHeightIsScaledAndRoundedHalfToEven) {
  struct Case {
    int childLines;  // plus the parent's one name line
    std::int32_t height;
  };
  const Case cases[] = {{1, 3}, {2, 4}, {4, 6}, {9, 13}, {14, 20}, {24, 32}};
  for (const Case& c : cases) {
    std::string child;
    for (int i = 0; i < c.childLines; ++i) child += "a\n";
    const Box p = treeMapLBox(rootWithLeaves("p", {Label(child)}));
    EXPECT_EQ(boxSize(p), (BoxSize{1, c.height})) << c.childLines + 1;
  }
  // Several tables count together with the name: 1 + 2 + 2 lines = 5, scaled 6.
  const Box two =
      BoxGrid("n", 1, {TableBox(1, {BoxText("a\nb", 2)}), TableBox(1, {BoxText("c\nd", 3)})});
  EXPECT_EQ(boxSize(two), (BoxSize{1, 6}));
  // A grid without tables or name lines measures nothing.
  EXPECT_EQ(boxSize(BoxGrid("", 1, {})), (BoxSize{0, 0}));
}

TEST(Layout, EmptyAndLineFeedNamesGetOneColumnAndNoNaN) {
  // The document "<a>&;&;</a>": two references with empty names under <a />.
  TreeBuilder<Numbered> b;
  b.open({1, "data.xml"});
  b.open({2, "<a />"});
  b.leaf({4, ""});
  b.leaf({3, ""});
  const Box root = treeMapLBox(std::move(b).finish());
  EXPECT_EQ(showBox(0, root),
            R"(BoxGrid {boName = "data.xml", boId = 1, boGrid = [TableBox {tbCols = 1, tbCels = [)"
            R"(BoxGrid {boName = "<a />", boId = 2, boGrid = [TableBox {tbCols = 1, tbCels = [)"
            R"(BoxText {boName = "", boId = 4},BoxText {boName = "", boId = 3}]}]}]}]})");
  const Box a = onlyTable(boGrid(root)).tbCels[0];
  EXPECT_EQ(tableSize(onlyTable(boGrid(a))), (BoxSize{0, 0}));
  EXPECT_EQ(boxSize(a), (BoxSize{5, 1}));
  EXPECT_EQ(boxSize(root), (BoxSize{8, 3}));

  EXPECT_EQ(onlyTable(boGrid(treeMapLBox(rootWithLeaves("r", 3, "\n")))).tbCols, 1);
  EXPECT_EQ(onlyTable(boGrid(treeMapLBox(rootWithLeaves("r", {"", "a", ""})))).tbCols, 1);
}

TEST(Layout, SizesSaturateInsteadOfWrapping) {
  // Heights grow about 1.3 times per level; a chain of 100 passes 2147483647.
  constexpr int kDepth = 100;
  TreeBuilder<Numbered> b;
  for (int i = 1; i <= kDepth; ++i) b.open({i, "n"});
  const Box root = treeMapLBox(std::move(b).finish());

  std::vector<std::int32_t> heights;  // from the root down
  for (Box at = root;;) {
    const BoxSize s = boxSize(at);
    EXPECT_EQ(s.width, 1);
    heights.push_back(s.height);
    if (!isBoxGrid(at)) break;
    at = onlyTable(boGrid(at)).tbCels[0];
  }
  ASSERT_EQ(heights.size(), static_cast<std::size_t>(kDepth));
  EXPECT_EQ(std::vector<std::int32_t>(heights.end() - 4, heights.end()),
            (std::vector<std::int32_t>{8, 5, 3, 1}));
  EXPECT_EQ(heights.front(), kMax);
  for (std::size_t i = 1; i < heights.size(); ++i) {
    EXPECT_GE(heights[i - 1], heights[i]) << i;
    EXPECT_GT(heights[i], 0) << i;
  }

  // Table heights and the name-plus-tables sum clamp as well.
  EXPECT_EQ(tableSize(TableBox(1, {root, root})), (BoxSize{1, kMax}));
  EXPECT_EQ(boxSize(BoxGrid("top", 0, {TableBox(1, {root}), TableBox(2, {root, root})})),
            (BoxSize{3, kMax}));

  // Row widths: 50 leaves just over a fiftieth of the limit each, in one row.
  const std::string wide(kMax / 50 + 1, 'w');
  const Box many = treeMapLBox(rootWithLeaves("r", 50, Label(wide)));
  const TableBox chosen = onlyTable(boGrid(many));
  EXPECT_EQ(chosen.tbCols, 1);
  EXPECT_EQ(boxSize(many), (BoxSize{kMax / 50 + 1, 66}));
  EXPECT_EQ(tableSize(TableBox(50, chosen.tbCels)), (BoxSize{kMax, 1}));
}

TEST(Layout, MillionDeepChainLaysOutComparesAndDestroysWithoutRecursion) {
  constexpr int kDepth = 1000000;
  const auto chain = [&](Label deepest) {
    TreeBuilder<Numbered> b;
    for (int i = 1; i < kDepth; ++i) b.open({i, "n"});
    b.leaf({kDepth, deepest});
    return treeMapLBox(std::move(b).finish());
  };
  const Box root = chain("n");
  EXPECT_EQ(boxSize(root), (BoxSize{1, kMax}));

  const BoxForest& f = root.forest();
  BoxIndex at = root.node();
  int depth = 1;
  while (f.isGrid(at)) {
    ASSERT_EQ(f.tables(at).size(), 1u);
    const BoxForest::Table& t = f.tables(at)[0];
    ASSERT_EQ(t.cols, 1);
    ASSERT_EQ(f.cells(t).size(), 1u);
    at = f.cells(t)[0];
    ++depth;
  }
  EXPECT_EQ(depth, kDepth);
  EXPECT_EQ(f.id(at), kDepth);

  EXPECT_EQ(root, chain("n"));
  EXPECT_EQ(root <=> chain("o"), std::strong_ordering::less);
  // The deepest box is shown once, followed only by the closing of every level above it.
  const std::string shown = showBox(0, root);
  const std::size_t leaf = shown.find("BoxText");
  ASSERT_NE(leaf, std::string::npos);
  EXPECT_EQ(shown.substr(leaf, 38), R"(BoxText {boName = "n", boId = 1000000})");
  EXPECT_EQ(shown.size() - leaf - 38, 4u * (kDepth - 1));
  EXPECT_EQ(shown.find_first_not_of("]}", leaf + 38), std::string::npos);
}

TEST(Layout, MillionLeafChildrenGetFiftyColumnsInChildOrder) {
  constexpr std::size_t kLeaves = 1000000;
  const Box root = treeMapLBox(rootWithLeaves("r", kLeaves, "x"));
  const BoxForest& f = root.forest();
  ASSERT_EQ(f.tables(root.node()).size(), 1u);
  const BoxForest::Table& t = f.tables(root.node())[0];
  EXPECT_EQ(t.cols, 50);
  const auto cells = f.cells(t);
  ASSERT_EQ(cells.size(), kLeaves);
  bool inChildOrder = true;
  for (std::size_t i = 0; i < kLeaves; ++i) {
    inChildOrder = inChildOrder && f.id(cells[i]) == static_cast<std::int32_t>(kLeaves + 1 - i);
  }
  EXPECT_TRUE(inChildOrder);
  // 20000 rows: 1.3 * (1 + 20000) = 26001.3.
  EXPECT_EQ(boxSize(root), (BoxSize{50, 26001}));
}

}  // namespace
}  // namespace qv
