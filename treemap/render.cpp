#include "treemap/render.h"

#include <array>
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

// Tag indentation of a box at depth d: its TABLE at 2 + 12d (the root box sits in
// the page's "HTML" element), its rows and cells at + 2 and + 4 (mkHTMLBox), its
// children table at + 6, that table's rows at + 8, its cells at + 10, and the
// children's own TABLEs at + 12, which is depth d + 1.
std::size_t boxIndent(std::size_t depth) { return 2 + 12 * depth; }
constexpr std::size_t kChildTable = 6, kChildRow = 8, kChildCell = 10;

// The bytes of a page that depend only on a box's depth, in the order a box uses them.
enum class Part {
  LeafHead,   // a leaf's mkHTMLBox head; its label division follows
  GridHead,   // a grid's, in the colour of its depth
  LeafTail,   // after a leaf's label division
  GridOpen,   // after a grid's label division, up to its children table's tag
  RowOpen,    // a row of the children table
  CellOpen,   // a cell of it, spanning one column
  CellClose,
  RowClose,
  GridClose,  // the children table closed, then the rest of the grid's box
};
constexpr std::size_t kParts = 9;

// The parts are made once for the first depths, where nearly every box of a document
// lies, and copied from there: the page is mostly these bytes. Deeper boxes make them
// afresh, and their indentation dominates their cost anyway.
class PageParts {
 public:
  explicit PageParts(const TreeMapOptions& options) : leaf_(styled(options.toLeafColor)) {
    for (const std::string& colour : options.toAltColors) grids_.push_back(styled(colour));
    cache_.resize(kCachedDepths);
    for (std::size_t d = 0; d < kCachedDepths; ++d) {
      for (std::size_t p = 0; p < kParts; ++p) {
        const Part part = static_cast<Part>(p);
        if (part == Part::GridHead && grids_.empty()) continue;
        StringOutput to(cache_[d][p]);
        make(to, part, d);
      }
    }
  }

  template <class Out>
  void write(Out& out, Part part, std::size_t depth) const {
    if (depth < kCachedDepths) {
      checkGrid(part);
      out.write(cache_[depth][static_cast<std::size_t>(part)]);
    } else {
      make(out, part, depth);
    }
  }
  std::uint64_t size(Part part, std::size_t depth) const {
    ByteCount count;
    write(count, part, depth);
    return count.bytes();
  }

 private:
  static constexpr std::size_t kCachedDepths = 64;

  static BoxAttrs styled(const std::string& colour) {
    BoxProps style = defBoxProps();
    style.boxFillColor = colour;
    return BoxAttrs(style);
  }
  void checkGrid(Part part) const {
    if (part == Part::GridHead && grids_.empty()) throw Error::program("Prelude.head: empty list");
  }

  template <class Out>
  void make(Out& out, Part part, std::size_t depth) const {
    checkGrid(part);
    const std::size_t indent = boxIndent(depth);
    switch (part) {
      case Part::LeafHead:
        return mkHTMLBox(out, BoxPart::Head, leaf_, indent);
      case Part::GridHead:
        // A grid at depth d takes the colour the options rotated d times put first.
        return mkHTMLBox(out, BoxPart::Head, grids_[depth % grids_.size()], indent);
      case Part::LeafTail:
        return mkHTMLBox(out, BoxPart::LeafTail, leaf_, indent);
      case Part::GridOpen:
        return mkHTMLBox(out, BoxPart::CellOpen, leaf_, indent);
      case Part::RowOpen:
        return renderTag(out, TagKind::Opening, "TR", {}, indent + kChildRow);
      case Part::CellOpen:
        return renderTag(out, TagKind::Opening, "TD", {}, indent + kChildCell);
      case Part::CellClose:
        return renderTag(out, TagKind::Closing, "TD", {}, indent + kChildCell);
      case Part::RowClose:
        return renderTag(out, TagKind::Closing, "TR", {}, indent + kChildRow);
      case Part::GridClose:
        renderTag(out, TagKind::Closing, "TABLE", {}, indent + kChildTable);
        return mkHTMLBox(out, BoxPart::CellClose, leaf_, indent);
    }
  }

  BoxAttrs leaf_;
  std::vector<BoxAttrs> grids_;
  std::vector<std::array<std::string, kParts>> cache_;
};

// The tag that opens a grid's children table: hidden, and found by the id its
// label's click handler passes to displayBox.
template <class Out>
void writeChildTableTag(Out& out, std::int32_t id, std::size_t depth) {
  char value[32] = "boxId";
  const auto end = std::to_chars(value + 5, value + sizeof value, id).ptr;
  const std::array<HtmlAttr, 2> attrs = {
      HtmlAttr{"ID", std::string_view(value, static_cast<std::size_t>(end - value))},
      HtmlAttr{"STYLE", "display: none;"}};
  renderTag(out, TagKind::Opening, "TABLE", attrs, boxIndent(depth) + kChildTable);
}

// A short last row under full rows: its last cell spans the missing columns.
std::uint32_t lastCellSpan(std::uint32_t count, std::uint32_t cols) {
  const std::uint32_t lastRow = count % cols;
  return count > cols && lastRow != 0 ? cols - lastRow + 1 : 1;
}

template <class Out>
void writeSpanningCell(Out& out, std::uint32_t span, std::size_t depth) {
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, span).ptr;
  const HtmlAttr colspan{"COLSPAN", std::string_view(digits, static_cast<std::size_t>(end - digits))};
  renderTag(out, TagKind::Opening, "TD", std::span<const HtmlAttr>(&colspan, 1),
            boxIndent(depth) + kChildCell);
}

// Writes the box tree from an explicit stack: each frame is a grid box whose
// children table is being written, cell by cell.
template <class Out>
void writeBoxes(Out& out, const PageParts& parts, const BoxForest& forest) {
  struct Frame {
    const Box* box;
    std::size_t depth;
    std::uint32_t cell = 0;  // cells begun so far
  };
  std::vector<Frame> stack;
  auto enter = [&](const Box& box, std::size_t depth) {
    const bool grid = box.isGrid();
    parts.write(out, grid ? Part::GridHead : Part::LeafHead, depth);
    writeLabelDivision(out, box.boName, box.boId);
    if (!grid) {
      parts.write(out, Part::LeafTail, depth);
      return;
    }
    parts.write(out, Part::GridOpen, depth);
    writeChildTableTag(out, box.boId, depth);
    stack.push_back({&box, depth});
  };
  enter(forest.box(BoxForest::root()), 0);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const auto cells = forest.tbCels(*f.box);
    const auto count = static_cast<std::uint32_t>(cells.size());
    const auto cols = static_cast<std::uint32_t>(f.box->tbCols);
    if (f.cell > 0) {
      parts.write(out, Part::CellClose, f.depth);
      if (f.cell % cols == 0 || f.cell == count) parts.write(out, Part::RowClose, f.depth);
    }
    if (f.cell == count) {
      parts.write(out, Part::GridClose, f.depth);
      stack.pop_back();
      continue;
    }
    if (f.cell % cols == 0) parts.write(out, Part::RowOpen, f.depth);
    if (f.cell == count - 1 && lastCellSpan(count, cols) != 1) {
      writeSpanningCell(out, lastCellSpan(count, cols), f.depth);
    } else {
      parts.write(out, Part::CellOpen, f.depth);
    }
    const Box& child = forest.box(cells[f.cell]);
    const std::size_t childDepth = f.depth + 1;
    ++f.cell;
    enter(child, childDepth);  // may move the stack: f is not used after this
  }
}

// The bytes writeBoxes writes, box by box in any order: each box's own parts,
// label division and children table tags, its cells' wrappers included.
std::uint64_t boxesSize(const PageParts& parts, const BoxForest& forest) {
  std::vector<std::uint32_t> depths(forest.size());  // parents come before their cells
  std::uint64_t total = 0;
  for (BoxIndex i = 0; i < forest.size(); ++i) {
    const Box& box = forest.box(i);
    const std::size_t depth = depths[i];
    ByteCount own;
    writeLabelDivision(own, box.boName, box.boId);
    if (!box.isGrid()) {
      total += parts.size(Part::LeafHead, depth) + own.bytes() + parts.size(Part::LeafTail, depth);
      continue;
    }
    writeChildTableTag(own, box.boId, depth);
    const std::uint32_t count = box.cellCount;
    const auto cols = static_cast<std::uint32_t>(box.tbCols);
    const std::uint64_t rows = (count + cols - 1) / cols;
    total += parts.size(Part::GridHead, depth) + own.bytes() + parts.size(Part::GridOpen, depth) +
             rows * (parts.size(Part::RowOpen, depth) + parts.size(Part::RowClose, depth)) +
             count * (parts.size(Part::CellOpen, depth) + parts.size(Part::CellClose, depth)) +
             parts.size(Part::GridClose, depth);
    if (const std::uint32_t span = lastCellSpan(count, cols); span != 1) {
      ByteCount spanning;
      writeSpanningCell(spanning, span, depth);
      total += spanning.bytes() - parts.size(Part::CellOpen, depth);
    }
    for (BoxIndex c : forest.tbCels(box)) depths[c] = static_cast<std::uint32_t>(depth + 1);
  }
  return total;
}

template <class Out>
void writePageAround(Out& out, auto&& boxes) {
  out.write(renderMessage());
  renderTag(out, TagKind::Opening, "HTML", {}, 0);
  out.write(displayBoxJS());
  boxes();
  renderTag(out, TagKind::Closing, "HTML", {}, 0);
  out.put('\n');
}

}  // namespace

void renderBox(Output& out, const TreeMapOptions& options, const BoxForest& forest) {
  writeBoxes(out, PageParts(options), forest);
}

std::uint64_t TreeMapPage::size() const {
  const PageParts parts(options_);
  ByteCount count;
  writePageAround(count, [&] {});
  return count.bytes() + boxesSize(parts, forest_);
}

void TreeMapPage::write(Output& out) const {
  const PageParts parts(options_);
  writePageAround(out, [&] { writeBoxes(out, parts, forest_); });
}

TreeMapPage treeMapExt(const TreeMapOptions& options, NameTree tree) {
  NumberedTree numbered = tree2ltree(tree);
  tree = NameTree();  // the numbered tree keeps the label storage alive
  BoxForest forest = treeMapLBox(numbered);
  numbered = NumberedTree();
  return TreeMapPage(options, std::move(forest));
}

}  // namespace qv
