#include "treemap/render.h"

#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "html/box.h"
#include "html/html.h"
#include "html/numbering.h"
#include "tree/error.h"
#include "treemap/layout.h"

namespace qv {
namespace {

// The table attributes of every box, made once per colour rather than once per box.
class BoxStyles {
 public:
  explicit BoxStyles(const TreeMapOptions& options) : leaf_(styleFilled(options.toLeafColor)) {
    for (const std::string& colour : options.toAltColors) grids_.emplace_back(styleFilled(colour));
  }
  const BoxAttrs& leaf() const { return leaf_; }
  // A grid box at depth d takes the colour the options rotated d times put first.
  const BoxAttrs& grid(std::size_t depth) const {
    if (grids_.empty()) throw Error::program("Prelude.head: empty list");
    return grids_[depth % grids_.size()];
  }

 private:
  static BoxAttrs styleFilled(const std::string& colour) {
    BoxProps style = defBoxProps();
    style.boxFillColor = colour;
    return BoxAttrs(style);
  }
  BoxAttrs leaf_;
  std::vector<BoxAttrs> grids_;
};

// Tag indentation inside a grid box at indent i: the box's TABLE at i, its cell row
// and "TD" at i + 2 and i + 4 (mkHTMLBox), the children table at i + 6, its rows at
// i + 8, its cells at i + 10, and the children's own TABLEs at i + 12.
constexpr std::size_t kChildTable = 6, kChildRow = 8, kChildCell = 10, kChildBox = 12;

}  // namespace

void renderBox(Output& out, const TreeMapOptions& options, const BoxForest& forest,
               std::size_t indent) {
  const BoxStyles styles(options);
  // A frame is a grid box whose children table is being written, cell by cell.
  struct Frame {
    const Box* box;
    std::size_t indent;
    std::size_t depth;
    std::uint32_t cell = 0;  // cells begun so far
  };
  std::vector<Frame> stack;
  auto enter = [&](const Box& box, std::size_t boxIndent, std::size_t depth) {
    const bool grid = box.isGrid();
    mkHTMLBoxBegin(out, box.boName, box.boId, grid ? styles.grid(depth) : styles.leaf(),
                   boxIndent, grid);
    if (!grid) {
      mkHTMLBoxEnd(out, boxIndent, false);
      return;
    }
    char id[32] = "boxId";
    const auto idEnd = std::to_chars(id + 5, id + sizeof id, box.boId).ptr;
    const std::array<HtmlAttr, 2> attrs = {
        HtmlAttr{"ID", std::string_view(id, static_cast<std::size_t>(idEnd - id))},
        HtmlAttr{"STYLE", "display: none;"}};
    renderTag(out, TagKind::Opening, "TABLE", attrs, boxIndent + kChildTable);
    stack.push_back({&box, boxIndent, depth});
  };
  enter(forest.box(BoxForest::root()), indent, 0);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const auto cells = forest.tbCels(*f.box);
    const auto count = static_cast<std::uint32_t>(cells.size());
    const auto cols = static_cast<std::uint32_t>(f.box->tbCols);
    if (f.cell > 0) {
      renderTag(out, TagKind::Closing, "TD", {}, f.indent + kChildCell);
      if (f.cell % cols == 0 || f.cell == count)
        renderTag(out, TagKind::Closing, "TR", {}, f.indent + kChildRow);
    }
    if (f.cell == count) {
      renderTag(out, TagKind::Closing, "TABLE", {}, f.indent + kChildTable);
      mkHTMLBoxEnd(out, f.indent, true);
      stack.pop_back();
      continue;
    }
    if (f.cell % cols == 0) renderTag(out, TagKind::Opening, "TR", {}, f.indent + kChildRow);
    // A short last row under full rows: its last cell spans the missing columns.
    const std::uint32_t lastRow = count % cols;
    if (count > cols && lastRow != 0 && f.cell == count - 1) {
      char span[16];
      const auto end = std::to_chars(span, span + sizeof span, cols - lastRow + 1).ptr;
      const HtmlAttr colspan{"COLSPAN", std::string_view(span, static_cast<std::size_t>(end - span))};
      renderTag(out, TagKind::Opening, "TD", std::span<const HtmlAttr>(&colspan, 1),
                f.indent + kChildCell);
    } else {
      renderTag(out, TagKind::Opening, "TD", {}, f.indent + kChildCell);
    }
    const Box& child = forest.box(cells[f.cell]);
    const std::size_t childIndent = f.indent + kChildBox;
    const std::size_t childDepth = f.depth + 1;
    ++f.cell;
    enter(child, childIndent, childDepth);  // may move the stack: f is not used after this
  }
}

void treeMapExt(Output& out, const TreeMapOptions& options, NameTree tree) {
  NumberedTree numbered = tree2ltree(tree);
  tree = NameTree();  // the numbered tree keeps the label storage alive
  const BoxForest forest = treeMapLBox(numbered);
  numbered = NumberedTree();
  out.write(renderMessage());
  renderTag(out, TagKind::Opening, "HTML", {}, 0);
  out.write(displayBoxJS());
  renderBox(out, options, forest, 2);
  renderTag(out, TagKind::Closing, "HTML", {}, 0);
  out.put('\n');
}

}  // namespace qv
