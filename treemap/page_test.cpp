#include "treemap/page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "tests/string_sink.h"
#include "tree/numbering.h"
#include "treemap/layout.h"
#include "xml/reader.h"

namespace qv {
namespace {

using qvtest::collect;

std::string page(LabelTree tree, const TreeMapOptions& options = defaultTreeOpts()) {
  const TreeMapPage built = treeMapExt(options, std::make_shared<const LabelTree>(std::move(tree)));
  qvtest::StringSink one, three;
  built.write(one, 0, 4096);
  // Three threads, buffers of 16 bytes and pieces of 64 cut the page at every place a
  // piece can end and take every path a buffer too small takes; it must come out the same.
  built.write(three, 3, 16);
  EXPECT_EQ(built.size(), qvtest::sizeOf(one.text));
  EXPECT_EQ(three.text, one.text);
  return std::move(one.text);
}

// A root whose one table holds `cells` leaves in document order in `cols` columns.
// The root is box 1, and the last leaf box 2.
BoxForest rootWithLeaves(int cells, int cols) {
  TreeBuilder<Label> b;
  b.open("r");
  for (int i = 0; i < cells; ++i) b.leaf("x");
  const LabelTree tree = std::move(b).finish();
  LargeVector<NodeIndex> order(tree.size());
  for (NodeIndex i = 0; i < order.size(); ++i) order[i] = i;
  LargeVector<std::uint8_t> columns(tree.size());
  columns[0] = static_cast<std::uint8_t>(cols);
  return BoxForest(std::make_shared<const LabelTree>(tree), std::move(order), std::move(columns));
}

// The layout's worked example: the cells a, bb, the two-line leaf and x share one
// row of four columns, and x's table holds y above z.
TEST(TreeMapPage, LayoutExample) {
  TreeBuilder<Label> b;
  b.open("root");
  b.leaf("a");
  b.leaf("bb");
  b.open("x");
  b.leaf("y");
  b.leaf("z");
  b.close();
  b.leaf("c\nc");
  EXPECT_EQ(page(std::move(b).finish()), qvtest::readGolden("layout-example.html"));
}

TEST(RenderBox, ShortLastRowSpansTheMissingColumns) {
  struct Case {
    int cells, cols;
    std::string expectedSpan;  // "" when no cell spans
  };
  const Case cases[] = {{5, 3, "2"}, {7, 3, "3"}, {10, 4, "3"}, {6, 3, ""}, {2, 3, ""}, {4, 1, ""}};
  for (const Case& c : cases) {
    qvtest::StringSink sink;
    TreeMapPage(defaultTreeOpts(), rootWithLeaves(c.cells, c.cols)).write(sink, 0, 4096);
    const std::string& text = sink.text;
    std::size_t rows = 0;
    for (std::size_t at = text.find("<TR"); at != std::string::npos; at = text.find("<TR", at + 1))
      ++rows;
    // Each leaf has its label row; the root its label row, its cell row and the table rows.
    EXPECT_EQ(rows, static_cast<std::size_t>(c.cells + 2 + (c.cells + c.cols - 1) / c.cols));
    const std::size_t at = text.find("COLSPAN = \"");
    if (c.expectedSpan.empty()) {
      EXPECT_EQ(at, std::string::npos) << c.cells << " in " << c.cols;
      continue;
    }
    ASSERT_NE(at, std::string::npos) << c.cells << " in " << c.cols;
    EXPECT_EQ(text.substr(at + 11, c.expectedSpan.size() + 1), c.expectedSpan + "\"");
    // Only the last cell spans, and it is the one holding the last box.
    EXPECT_EQ(text.find("COLSPAN", at + 1), std::string::npos);
    EXPECT_NE(text.find("displayBox(2)", at), std::string::npos);
  }
}

TEST(RenderBox, GridColoursCycleByDepthAndLeavesStayWhite) {
  TreeBuilder<Label> b;
  for (int d = 0; d < 6; ++d) {
    b.open("g");
    b.leaf("leaf");
  }
  const std::string text = page(std::move(b).finish());
  std::vector<std::string> grids;
  std::size_t leaves = 0;
  for (std::size_t at = text.find("BGCOLOR = \""); at != std::string::npos;
       at = text.find("BGCOLOR = \"", at + 1)) {
    const std::string colour = text.substr(at + 11, text.find('"', at + 11) - at - 11);
    if (colour == "white") {
      ++leaves;
    } else {
      grids.push_back(colour);
    }
  }
  EXPECT_EQ(grids, (std::vector<std::string>{"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347",
                                             "yellow"}));
  EXPECT_EQ(leaves, 6u);
}

TEST(RenderBox, EmptyAlternativeColoursFailOnlyForGrids) {
  const TreeMapOptions noColours{"white", {}};
  TreeBuilder<Label> leaf;
  leaf.leaf("leaf");
  EXPECT_NE(page(std::move(leaf).finish(), noColours).find("BGCOLOR = \"white\""),
            std::string::npos);
  try {
    TreeMapPage(noColours, rootWithLeaves(1, 1));
    FAIL() << "a grid needs a colour";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Prelude.head: empty list");
  }
}

// Pieces larger than many boxes: the planner takes runs of whole cells, cut where a
// piece is full, beside grids too large for a piece, which it opens. The driver does
// this only for trees of a million nodes; the pieces must join into the very page
// the calling thread writes alone.
TEST(TreeMapPage, RunsOfSmallCellsJoinIntoTheSinglyWrittenPage) {
  TreeBuilder<Label> b;
  b.open("root");
  for (int g = 0; g < 40; ++g) {
    b.open("grid");
    for (int i = 0; i < 3 * g; ++i) b.leaf(i % 7 == 0 ? "a\nlonger label" : "x");
    b.close();
    b.leaf("y");
  }
  const TreeMapPage built =
      treeMapExt(defaultTreeOpts(), std::make_shared<const LabelTree>(std::move(b).finish()));
  qvtest::StringSink one;
  built.write(one, 0, 4096);
  for (const std::size_t buffer : {64, 512, 4096}) {
    qvtest::StringSink two;
    built.write(two, 2, buffer);
    EXPECT_EQ(two.text, one.text) << buffer;
  }
}

// A page grows with the square of its depth: the subtrees near the root of a chain
// 20,000 deep pass 4 GiB, which the size pass keeps apart from the narrow rest.
TEST(TreeMapPage, DeepChainMeasuresItsPageOfGigabytes) {
  std::string chain;
  for (int i = 0; i < 20000; ++i) chain += "<d>";
  for (int i = 0; i < 20000; ++i) chain += "</d>";
  for (unsigned workers : {0u, 2u}) {
    const TreeMapPage built =
        treeMapExt(defaultTreeOpts(),
                   std::make_shared<const LabelTree>(nameTreeOf("deep.xml", chain)), workers);
    EXPECT_EQ(built.size(), (TextSize{4806090277u, 340019u})) << workers;
  }
}

TEST(TreeMapPage, MillionDeepChainIsNumberedLaidOutAndFreedWithoutRecursion) {
  constexpr int kDepth = 1000000;
  TreeBuilder<Label> b;
  for (int i = 0; i < kDepth; ++i) b.open("n");
  const BoxForest forest = treeMapLBox(std::make_shared<const LabelTree>(std::move(b).finish()));
  EXPECT_EQ(forest.boId(BoxForest::root(), 0), 1);
  // The page of the whole chain would be terabytes; a thousand levels stream out whole.
  TreeBuilder<Label> shallow;
  for (int i = 0; i < 1000; ++i) shallow.open("n");
  const std::string text = page(std::move(shallow).finish());
  std::size_t tables = 0;
  for (std::size_t at = text.find("<TABLE"); at != std::string::npos;
       at = text.find("<TABLE", at + 1)) {
    ++tables;
  }
  EXPECT_EQ(tables, 1999u);  // a box table per node and a children table per grid
  EXPECT_TRUE(text.ends_with("></HTML\n>\n"));
}

}  // namespace
}  // namespace qv
