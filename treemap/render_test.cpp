#include "treemap/render.h"

#include <gtest/gtest.h>

#include <random>

#include "html/box.h"
#include "html/numbering.h"
#include "tree/error.h"
#include "treemap/layout.h"

namespace qv {
namespace {

// The rendering composed literally from the box element and the row table builder,
// recursively: the reference the streamed rendering must match byte for byte.
HtmlFragment referenceRender(const TreeMapOptions& options, const Box& box) {
  BoxProps style = defBoxProps();
  if (!isBoxGrid(box)) {
    style.boxFillColor = options.toLeafColor;
    return mkHTMLBox(boName(box), boId(box), {}, 1, style);
  }
  style.boxFillColor = options.toAltColors.at(0);
  const TreeMapOptions cellOptions = childOptions(options);
  std::vector<HtmlFragment> tables;
  for (const TableBox& t : boGrid(box)) {
    std::vector<std::vector<HtmlFragment>> rows;
    for (std::size_t i = 0; i < t.tbCels.size(); ++i) {
      if (i % static_cast<std::size_t>(t.tbCols) == 0) rows.emplace_back();
      rows.back().push_back(referenceRender(cellOptions, t.tbCels[i]));
    }
    tables.push_back(rowsTable({{"ID", "boxId" + std::to_string(boId(box))},
                                {"STYLE", "display: none;"}},
                               {}, std::move(rows)));
  }
  return mkHTMLBox(boName(box), boId(box), std::move(tables), 1, style);
}

std::string referencePage(const TreeMapOptions& options, const Box& root) {
  return renderDocument(concatFragments({displayBoxJS(), referenceRender(options, root)}));
}

std::string streamedPage(const TreeMapOptions& options, const Box& root) {
  return collect([&](Output& out) { writeTreeMapPage(out, options, root); });
}

NameTree randomTree(std::mt19937& rng, int nodes) {
  static const char* const kLabels[] = {"a", "bb", "c\nc", "<x y=\"1\" />", "", "\n",
                                        "  two  spaces", "a & b", "long label text"};
  TreeBuilder<Label> b;
  b.open("root.xml");
  for (int i = 1; i < nodes; ++i) {
    while (b.depth() > 1 && rng() % 3 == 0) b.close();
    b.open(kLabels[rng() % std::size(kLabels)]);
  }
  return std::move(b).finish();
}

TEST(RenderBox, StreamedPageMatchesLiteralCompositionOnLaidOutTrees) {
  std::mt19937 rng(12345);
  TreeMapOptions threeColours{"#FFFFFF", {"red", "green", "blue"}};
  for (int round = 0; round < 60; ++round) {
    const NameTree tree = randomTree(rng, 1 + round * 3);
    const Box root = treeMapLBox(tree2ltree(tree));
    for (const TreeMapOptions& options : {defaultTreeOpts(), threeColours}) {
      ASSERT_EQ(streamedPage(options, root), referencePage(options, root)) << "round " << round;
    }
    EXPECT_EQ(treeMapExt(defaultTreeOpts(), tree), referencePage(defaultTreeOpts(), root));
  }
}

TEST(RenderBox, HandBuiltGridsWithSeveralOrNoTablesMatchTheComposition) {
  auto leaf = [](const char* name, int id) { return BoxText(name, id); };
  const Box inner = BoxGrid("inner", -3, {TableBox(2, {leaf("p", 4), leaf("q", 5), leaf("r", 6)})});
  const Box root = BoxGrid("root", 7,
                           {TableBox(3, {leaf("a", 1), leaf("b", 2), leaf("c", 3), inner,
                                         leaf("d", 8), leaf("e", 9), leaf("f", 10)}),
                            TableBox(1, {leaf("g", 11)}), TableBox(4, {leaf("h", 12)})});
  EXPECT_EQ(streamedPage(defaultTreeOpts(), root), referencePage(defaultTreeOpts(), root));
  const Box bare = BoxGrid("no tables", 2, {});
  EXPECT_EQ(streamedPage(defaultTreeOpts(), bare), referencePage(defaultTreeOpts(), bare));
}

TEST(RenderBox, ShortLastRowSpansTheMissingColumns) {
  struct Case {
    int cells, cols;
    std::string expectedSpan;  // "" when no cell spans
  };
  const Case cases[] = {{5, 3, "2"}, {7, 3, "3"}, {10, 4, "3"}, {6, 3, ""}, {2, 3, ""}, {4, 1, ""}};
  for (const Case& c : cases) {
    std::vector<Box> cells;
    for (int i = 0; i < c.cells; ++i) cells.push_back(BoxText("x", i + 2));
    const Box root = BoxGrid("r", 1, {TableBox(c.cols, cells)});
    const std::string page = streamedPage(defaultTreeOpts(), root);
    const std::size_t at = page.find("COLSPAN = \"");
    if (c.expectedSpan.empty()) {
      EXPECT_EQ(at, std::string::npos) << c.cells << " in " << c.cols;
      continue;
    }
    ASSERT_NE(at, std::string::npos) << c.cells << " in " << c.cols;
    EXPECT_EQ(page.substr(at + 11, c.expectedSpan.size() + 1), c.expectedSpan + "\"");
    // Only the last cell spans, and it is the one holding the last box.
    EXPECT_EQ(page.find("COLSPAN", at + 1), std::string::npos);
    EXPECT_NE(page.find("displayBox(" + std::to_string(c.cells + 1) + ")", at), std::string::npos);
  }
}

TEST(RenderBox, GridColoursCycleByDepthAndLeavesStayWhite) {
  TreeBuilder<Label> b;
  for (int d = 0; d < 6; ++d) {
    b.open("g");
    b.leaf("leaf");
  }
  const std::string page = treeMap(std::move(b).finish());
  std::vector<std::string> colours;
  for (std::size_t at = page.find("BGCOLOR = \""); at != std::string::npos;
       at = page.find("BGCOLOR = \"", at + 1)) {
    colours.push_back(page.substr(at + 11, page.find('"', at + 11) - at - 11));
  }
  // Depth first: each grid's leaf child is rendered after its grid child, as cells are ordered by size.
  std::vector<std::string> grids, leaves;
  for (std::size_t i = 0; i < colours.size(); ++i) {
    (colours[i] == "white" ? leaves : grids).push_back(colours[i]);
  }
  EXPECT_EQ(grids, (std::vector<std::string>{"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347",
                                             "yellow"}));
  EXPECT_EQ(leaves.size(), 6u);
}

TEST(RenderBox, EmptyAlternativeColoursFailOnlyForGrids) {
  const TreeMapOptions noColours{"white", {}};
  EXPECT_NO_THROW(renderBox(noColours, BoxText("leaf", 1)));
  try {
    renderBox(noColours, BoxGrid("g", 1, {TableBox(1, {BoxText("c", 2)})}));
    FAIL() << "a grid needs a colour";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Prelude.head: empty list");
  }
  for (int cols : {2, 0}) {
    try {
      renderBox(defaultTreeOpts(), BoxGrid("g", 1, {TableBox(cols, {})}));
      FAIL() << "an empty table has no rows";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "aboves []");
    }
  }
  try {
    renderBox(defaultTreeOpts(), BoxGrid("g", 1, {TableBox(0, {BoxText("c", 2)})}));
    FAIL() << "cells need a column";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "table of 1 cells with 0 columns");
  }
}

TEST(TreeMapPage, WholeRunExample) {
  TreeBuilder<Label> b;
  b.open("data.xml");
  b.open("<a />");
  b.leaf("<b />");
  const std::string page = treeMap(std::move(b).finish());
  EXPECT_EQ(page,
            "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 FINAL//EN\">\n"
            "<!--Rendered using the Morvane Html Library v0.2-->\n"
            "<HTML\n"
            "><script type=\"text/javascript\">\n"
            "function displayBox(i){\n"
            "var row = document.getElementById(\"boxId\"+i);\n"
            "if (row.style.display == '') row.style.display = 'none';\n"
            "else row.style.display = '';\n"
            " }\n"
            "</script>\n"
            "<TABLE STYLE = \"border: 2px solid black;\" BGCOLOR = \"yellow\"\n"
            "  ><TR\n"
            "    ><TD\n"
            "      ><div onclick=\"displayBox(1)\">data.xml\n"
            "</div></TD\n"
            "      ></TR\n"
            "    ><TR\n"
            "    ><TD\n"
            "      ><TABLE ID = \"boxId1\" STYLE = \"display: none;\"\n"
            "\t><TR\n"
            "\t  ><TD\n"
            "\t    ><TABLE STYLE = \"border: 2px solid black;\" BGCOLOR = \"orange\"\n"
            "\t      ><TR\n"
            "\t\t><TD\n"
            "\t\t  ><div onclick=\"displayBox(2)\">&lt;a&nbsp;/&gt;\n"
            "</div></TD\n"
            "\t\t  ></TR\n"
            "\t\t><TR\n"
            "\t\t><TD\n"
            "\t\t  ><TABLE ID = \"boxId2\" STYLE = \"display: none;\"\n"
            "\t\t    ><TR\n"
            "\t\t      ><TD\n"
            "\t\t\t><TABLE STYLE = \"border: 2px solid black;\" BGCOLOR = \"white\"\n"
            "\t\t\t  ><TR\n"
            "\t\t\t    ><TD\n"
            "\t\t\t      ><div onclick=\"displayBox(3)\">&lt;b&nbsp;/&gt;\n"
            "</div></TD\n"
            "\t\t\t      ></TR\n"
            "\t\t\t    ></TABLE\n"
            "\t\t\t  ></TD\n"
            "\t\t\t></TR\n"
            "\t\t      ></TABLE\n"
            "\t\t    ></TD\n"
            "\t\t  ></TR\n"
            "\t\t></TABLE\n"
            "\t      ></TD\n"
            "\t    ></TR\n"
            "\t  ></TABLE\n"
            "\t></TD\n"
            "      ></TR\n"
            "    ></TABLE\n"
            "  ></HTML\n"
            ">\n");
}

TEST(TreeMapPage, MillionDeepChainIsNumberedLaidOutAndFreedWithoutRecursion) {
  constexpr int kDepth = 1000000;
  TreeBuilder<Label> b;
  for (int i = 0; i < kDepth; ++i) b.open("n");
  const NumberedTree numbered = tree2ltree(std::move(b).finish());
  const Box root = treeMapLBox(numbered);
  EXPECT_EQ(boId(root), 1);
  // The page of the whole chain would be terabytes; a thousand levels stream out whole.
  TreeBuilder<Label> shallow;
  for (int i = 0; i < 1000; ++i) shallow.open("n");
  const std::string page = collect([&](Output& out) {
    writeTreeMapExt(out, defaultTreeOpts(), std::move(shallow).finish());
  });
  std::size_t tables = 0;
  for (std::size_t at = page.find("<TABLE"); at != std::string::npos; at = page.find("<TABLE", at + 1)) {
    ++tables;
  }
  EXPECT_EQ(tables, 1999u);  // a box table per node and a children table per grid
  EXPECT_TRUE(page.ends_with("></HTML\n>\n"));
}

}  // namespace
}  // namespace qv
