#include "treemap/box.h"

#include <gtest/gtest.h>

#include <string>

#include "tree/error.h"

namespace qv {
namespace {

Box leaf(const char* name, std::int32_t id) {
  return BoxText(name, id);
}

// r(1) holding one table of 1 column with the leaf c(2).
Box smallGrid() {
  return BoxGrid("r", 1, {TableBox(1, {leaf("c", 2)})});
}

TEST(BoxShow, RecordSyntaxWithQuotedNamesAndPrecedence) {
  const Box twoTables =
      BoxGrid("t", 5, {TableBox(2, {leaf("u", 6), smallGrid()}), TableBox(3, {})});
  struct Case {
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {showBox(0, leaf("a", 1)), R"(BoxText {boName = "a", boId = 1})"},
      {showBox(10, leaf("a", 1)), R"(BoxText {boName = "a", boId = 1})"},
      {showBox(11, leaf("a", 1)), R"((BoxText {boName = "a", boId = 1}))"},
      {showBox(0, leaf("a\"b\n", -3)), R"(BoxText {boName = "a\"b\n", boId = -3})"},
      {showBox(0, BoxText(std::u32string_view(U"\u0100"
                                              "1"),
                          7)),
       R"(BoxText {boName = "\256\&1", boId = 7})"},
      {showBox(0, smallGrid()),
       R"(BoxGrid {boName = "r", boId = 1, boGrid = [TableBox {tbCols = 1, tbCels = [BoxText {boName = "c", boId = 2}]}]})"},
      {showBox(11, smallGrid()),
       R"((BoxGrid {boName = "r", boId = 1, boGrid = [TableBox {tbCols = 1, tbCels = [BoxText {boName = "c", boId = 2}]}]}))"},
      {showBox(0, BoxGrid("", 0, {})), R"(BoxGrid {boName = "", boId = 0, boGrid = []})"},
      {showBox(0, twoTables),
       R"(BoxGrid {boName = "t", boId = 5, boGrid = [TableBox {tbCols = 2, tbCels = [BoxText {boName = "u", boId = 6},)"
       R"(BoxGrid {boName = "r", boId = 1, boGrid = [TableBox {tbCols = 1, tbCels = [BoxText {boName = "c", boId = 2}]}]}]},)"
       R"(TableBox {tbCols = 3, tbCels = []}]})"},
      {showTableBox(0, TableBox(-2, {})), R"(TableBox {tbCols = -2, tbCels = []})"},
      {showTableBox(11, TableBox(1, {leaf("x", 1)})),
       R"((TableBox {tbCols = 1, tbCels = [BoxText {boName = "x", boId = 1}]}))"},
      {showBoxList(11, {leaf("x", 1), leaf("y", 2)}),
       R"([BoxText {boName = "x", boId = 1},BoxText {boName = "y", boId = 2}])"},
      {showBoxList(0, {}), "[]"},
      {showTableBoxList(11, {TableBox(1, {}), TableBox(2, {})}),
       R"([TableBox {tbCols = 1, tbCels = []},TableBox {tbCols = 2, tbCels = []}])"},
      {showTableBoxList(0, {}), "[]"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(BoxOrder, TextBeforeGridThenFieldsInOrder) {
  struct Case {
    Box a;
    Box b;
    std::strong_ordering want;
  };
  const Case cases[] = {
      {leaf("z", 9), BoxGrid("a", 1, {}), std::strong_ordering::less},
      {leaf("a", 2), leaf("b", 1), std::strong_ordering::less},
      {leaf("a", 1), leaf("a", 2), std::strong_ordering::less},
      {leaf("ab", 1), leaf("a", 9), std::strong_ordering::greater},
      {leaf("", 5), leaf("a", 1), std::strong_ordering::less},
      {leaf("a", -1), leaf("a", 0), std::strong_ordering::less},
      // Names compare by character code: 255 as a byte sorts below 256 as a wide code.
      {leaf("\xff", 1), BoxText(std::u32string_view(U"\u0100"), 1), std::strong_ordering::less},
      {BoxText(std::u32string_view(U"ab"), 1), leaf("ab", 1), std::strong_ordering::equal},
      {smallGrid(), smallGrid(), std::strong_ordering::equal},
      // Fewer tables sort first, then the column count decides, then the cells.
      {BoxGrid("r", 1, {}), smallGrid(), std::strong_ordering::less},
      {BoxGrid("r", 1, {TableBox(2, {})}), BoxGrid("r", 1, {TableBox(1, {leaf("c", 2)})}),
       std::strong_ordering::greater},
      {BoxGrid("r", 1, {TableBox(1, {leaf("c", 2)})}),
       BoxGrid("r", 1, {TableBox(1, {leaf("c", 2), leaf("a", 1)})}), std::strong_ordering::less},
      {BoxGrid("r", 1, {TableBox(1, {leaf("c", 3)})}), smallGrid(), std::strong_ordering::greater},
      // A difference deep down decides only after everything before it is equal.
      {BoxGrid("r", 1, {TableBox(1, {smallGrid(), leaf("a", 1)})}),
       BoxGrid("r", 1,
               {TableBox(1, {BoxGrid("r", 1, {TableBox(1, {leaf("d", 2)})}), leaf("0", 0)})}),
       std::strong_ordering::less},
      {BoxGrid("r", 1, {TableBox(1, {smallGrid()}), TableBox(1, {})}),
       BoxGrid("r", 1, {TableBox(1, {smallGrid()}), TableBox(0, {})}),
       std::strong_ordering::greater},
      // A grid without tables is still a grid.
      {BoxGrid("a", 1, {}), leaf("a", 1), std::strong_ordering::greater},
  };
  for (const Case& c : cases) {
    const std::string where = showBox(0, c.a) + " vs " + showBox(0, c.b);
    EXPECT_EQ(c.a <=> c.b, c.want) << where;
    EXPECT_EQ(c.b <=> c.a, 0 <=> (c.a <=> c.b)) << where;
    EXPECT_EQ(c.a == c.b, c.want == 0) << where;
  }
}

TEST(BoxOrder, TablesCompareColumnsThenCells) {
  EXPECT_EQ(TableBox(1, {leaf("z", 1)}) <=> TableBox(2, {}), std::strong_ordering::less);
  EXPECT_EQ(TableBox(2, {leaf("a", 1)}) <=> TableBox(2, {leaf("a", 1), leaf("a", 1)}),
            std::strong_ordering::less);
  EXPECT_EQ(TableBox(2, {leaf("b", 1)}) <=> TableBox(2, {leaf("a", 1), leaf("a", 1)}),
            std::strong_ordering::greater);
  EXPECT_EQ(TableBox(1, {smallGrid()}), TableBox(1, {smallGrid()}));
  EXPECT_FALSE(TableBox(1, {smallGrid()}) == TableBox(1, {leaf("r", 1)}));
}

TEST(BoxAccess, FieldsOfEitherAlternative) {
  const Box g = smallGrid();
  EXPECT_EQ(toBytes(boName(g)), "r");
  EXPECT_EQ(boId(g), 1);
  EXPECT_TRUE(isBoxGrid(g));
  const std::vector<TableBox> grid = boGrid(g);
  ASSERT_EQ(grid.size(), 1u);
  EXPECT_EQ(tbCols(grid[0]), 1);
  ASSERT_EQ(tbCels(grid[0]).size(), 1u);
  EXPECT_EQ(tbCels(grid[0])[0], leaf("c", 2));
  EXPECT_TRUE(boGrid(BoxGrid("e", 3, {})).empty());

  const Box t = leaf("a\nb", -4);
  EXPECT_EQ(toBytes(boName(t)), "a\nb");
  EXPECT_EQ(boId(t), -4);
  EXPECT_FALSE(isBoxGrid(t));
}

TEST(BoxAccess, BoGridOfALeafIsAFatalError) {
  try {
    boGrid(leaf("a", 1));
    FAIL() << "boGrid of a BoxText returned";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), Error::Kind::Program);
    EXPECT_EQ(e.message(), "No match in record selector TreeMap.boGrid");
  }
}

TEST(BoxBuild, ConstructorsCopyNamesAndSubtrees) {
  std::string name = "first";
  std::u32string wide = U"w\u0101";
  Box inner = BoxGrid(name, 2, {TableBox(1, {BoxText(std::u32string_view(wide), 3)})});
  const Box outer = BoxGrid("o", 1, {TableBox(1, {inner, leaf("p", 4)})});
  name = "XXXXX";
  wide = U"XXX";
  inner = leaf("gone", 0);  // the outer box holds its own copy
  EXPECT_EQ(showBox(0, outer),
            R"(BoxGrid {boName = "o", boId = 1, boGrid = [TableBox {tbCols = 1, tbCels = [)"
            R"(BoxGrid {boName = "first", boId = 2, boGrid = [TableBox {tbCols = 1, tbCels = [)"
            R"(BoxText {boName = "w\257", boId = 3}]}]},BoxText {boName = "p", boId = 4}]}]})");
  // Handles from boGrid share the outer forest and compare equal to fresh copies.
  const Box cell = boGrid(outer)[0].tbCels[0];
  EXPECT_EQ(&cell.forest(), &outer.forest());
  EXPECT_EQ(cell,
            BoxGrid("first", 2, {TableBox(1, {BoxText(std::u32string_view(U"w\u0101"), 3)})}));
}

TEST(BoxBuild, NamesOfAnyLengthSurviveTheCopy) {
  std::string longName(5000, 'n');
  std::vector<Box> cells;
  for (int i = 0; i < 40; ++i) cells.push_back(BoxText(longName.substr(0, 100 * i), i));
  const Box g = BoxGrid(longName, 99, {TableBox(3, cells)});
  longName.assign(5000, 'x');
  EXPECT_EQ(toBytes(boName(g)), std::string(5000, 'n'));
  const std::vector<Box> copied = boGrid(g)[0].tbCels;
  ASSERT_EQ(copied.size(), 40u);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(toBytes(boName(copied[i])), std::string(100 * i, 'n'));
}

TEST(BoxBuild, DeepChainOfConstructorsComparesAndShowsWithoutRecursion) {
  // Each constructor copies the chain below it; a few thousand levels stays cheap.
  constexpr int kDepth = 3000;
  Box chain = leaf("x", kDepth);
  for (int i = kDepth - 1; i >= 1; --i) chain = BoxGrid("x", i, {TableBox(1, {chain})});
  const Box copy = BoxGrid("x", 0, {TableBox(1, {chain})});
  const Box cell = boGrid(copy)[0].tbCels[0];
  EXPECT_NE(&cell.forest(), &chain.forest());
  EXPECT_EQ(cell, chain);
  const Box other =
      BoxGrid("x", 0, {TableBox(1, {BoxGrid("x", 1, {TableBox(1, {leaf("y", 2)})})})});
  EXPECT_EQ(copy <=> other, std::strong_ordering::greater);  // "x" at level 2 beats "y"
  std::string want;
  for (int i = 1; i < kDepth; ++i) {
    want += R"(BoxGrid {boName = "x", boId = )" + std::to_string(i) +
            ", boGrid = [TableBox {tbCols = 1, tbCels = [";
  }
  want += R"(BoxText {boName = "x", boId = 3000})";
  for (int i = 1; i < kDepth; ++i) want += "]}]}";
  EXPECT_EQ(showBox(0, chain), want);
}

TEST(TreeMapOptions, DefaultsAndRotationForChildren) {
  const TreeMapOptions d = defaultTreeOpts();
  EXPECT_EQ(d.toLeafColor, "white");
  EXPECT_EQ(d.toAltColors,
            (std::vector<std::string>{"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347"}));

  // The first colour at each depth cycles with the list's length.
  std::vector<std::string> firsts;
  TreeMapOptions o = d;
  for (int depth = 0; depth < 6; ++depth) {
    firsts.push_back(o.toAltColors.front());
    EXPECT_EQ(o.toLeafColor, "white");
    o = childOptions(o);
  }
  EXPECT_EQ(firsts, (std::vector<std::string>{"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347",
                                              "yellow"}));

  using Colors = std::vector<std::string>;
  const std::pair<Colors, Colors> rotations[] = {
      {{}, {}}, {{"a"}, {"a"}}, {{"a", "b", "c"}, {"b", "c", "a"}}};
  for (const auto& [in, out] : rotations) {
    EXPECT_EQ(childOptions(TreeMapOptions{"leaf", in}).toAltColors, out);
    EXPECT_EQ(childOptions(TreeMapOptions{"leaf", in}).toLeafColor, "leaf");
  }
}

}  // namespace
}  // namespace qv
