#include "treemap/render.h"

#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "html/box.h"
#include "html/numbering.h"
#include "tree/error.h"
#include "treemap/layout.h"

namespace qv {
namespace {

// The table attributes of every box, made once per colour rather than once per box.
class BoxStyles {
 public:
  explicit BoxStyles(const TreeMapOptions& options) {
    BoxProps style = defBoxProps();
    style.boxFillColor = options.toLeafColor;
    leaf_ = boxTableAttrs(style);
    for (const std::string& colour : options.toAltColors) {
      style.boxFillColor = colour;
      grids_.push_back(boxTableAttrs(style));
    }
  }
  const std::array<HtmlAttr, 2>& leaf() const { return leaf_; }
  // A grid box at this depth takes the colour the options rotated depth times put first.
  const std::array<HtmlAttr, 2>& grid(std::size_t depth) const {
    if (grids_.empty()) throw Error::program("Prelude.head: empty list");
    return grids_[depth % grids_.size()];
  }

 private:
  std::array<HtmlAttr, 2> leaf_;
  std::vector<std::array<HtmlAttr, 2>> grids_;
};

// Decimal digits of n in buf; returns the view of them.
std::string_view decimal(char (&buf)[16], std::int64_t n) {
  const auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
  return {buf, static_cast<std::size_t>(end - buf)};
}

// Writes the box tree from an explicit stack: each frame is a box whose label row
// is written and whose children tables are being written cell by cell.
template <class Sink>
void emitBox(Sink& sink, const TreeMapOptions& options, const BoxForest& forest, BoxIndex root) {
  const BoxStyles styles(options);
  struct Frame {
    BoxIndex node;
    std::uint32_t table = 0;  // the children table being written
    std::uint32_t cell = 0;   // cells of that table begun so far
    std::size_t depth = 0;
  };
  std::vector<Frame> stack;
  auto enter = [&](BoxIndex node, std::size_t depth) {
    sink.open("TABLE", std::span<const HtmlAttr>(forest.isGrid(node) ? styles.grid(depth)
                                                                     : styles.leaf()));
    sink.open("TR");
    sink.open("TD");
    sink.textWith([&](Output& out) { writeLabelDivision(out, forest.name(node), forest.id(node)); });
    sink.close();
    sink.close();
    stack.push_back({node, 0, 0, depth});
  };
  enter(root, 0);
  while (!stack.empty()) {
    Frame& f = stack.back();
    const auto tables = forest.tables(f.node);
    if (f.table == tables.size()) {
      sink.close();  // the box's TABLE
      stack.pop_back();
      continue;
    }
    const BoxForest::Table& table = tables[f.table];
    const auto cells = forest.cells(table);
    const std::uint32_t count = static_cast<std::uint32_t>(cells.size());
    if (table.cols < 1 && count > 0) {
      throw Error::program("table of " + std::to_string(count) + " cells with " +
                           std::to_string(table.cols) + " columns");
    }
    const std::uint32_t cols = static_cast<std::uint32_t>(table.cols);
    if (f.cell == 0) {
      // The rows of an empty table are an empty list, which the row builder refuses.
      if (count == 0) throw Error::program("aboves []");
      char id[32] = "boxId";
      const auto idEnd = std::to_chars(id + 5, id + sizeof id, forest.id(f.node)).ptr;
      const std::string_view idValue(id, static_cast<std::size_t>(idEnd - id));
      const std::array<AttrRef, 2> attrs = {AttrRef{"ID", idValue},
                                            AttrRef{"STYLE", "display: none;"}};
      sink.open("TR");
      sink.open("TD");
      sink.open("TABLE", std::span<const AttrRef>(attrs));
    } else {
      sink.close();  // the TD of the cell just written
      if (f.cell % cols == 0 || f.cell == count) sink.close();  // its row's TR
    }
    if (f.cell == count) {
      sink.close();  // the children TABLE
      sink.close();  // its TD
      sink.close();  // its TR
      ++f.table;
      f.cell = 0;
      continue;
    }
    if (f.cell % cols == 0) sink.open("TR");
    // A short last row under full rows: its last cell spans the missing columns.
    const std::uint32_t lastRow = count % cols;
    if (count > cols && lastRow != 0 && f.cell == count - 1) {
      char span[16];
      const std::array<AttrRef, 1> attrs = {
          AttrRef{"COLSPAN", decimal(span, static_cast<std::int64_t>(cols - lastRow + 1))}};
      sink.open("TD", std::span<const AttrRef>(attrs));
    } else {
      sink.open("TD");
    }
    const BoxIndex child = cells[f.cell];
    const std::size_t depth = f.depth + 1;
    ++f.cell;
    enter(child, depth);  // may move the stack: f is not used after this
  }
}

}  // namespace

HtmlFragment renderBox(const TreeMapOptions& options, const Box& box) {
  FragmentBuilder builder;
  emitBox(builder, options, box.forest(), box.node());
  return std::move(builder).finish();
}

void writeBox(HtmlWriter& writer, const TreeMapOptions& options, const Box& box) {
  emitBox(writer, options, box.forest(), box.node());
}

void writeTreeMapPage(Output& out, const TreeMapOptions& options, const Box& root) {
  HtmlWriter writer(out);
  beginDocument(writer);
  writer.text(displayBoxScript());
  writeBox(writer, options, root);
  endDocument(writer);
}

void writeTreeMapExt(Output& out, const TreeMapOptions& options, NameTree tree) {
  NumberedTree numbered = tree2ltree(tree);
  tree = NameTree();  // the numbered tree keeps the label storage alive
  const Box root = treeMapLBox(numbered);
  numbered = NumberedTree();
  writeTreeMapPage(out, options, root);
}

std::string treeMapExt(const TreeMapOptions& options, const NameTree& tree) {
  return collect([&](Output& out) { writeTreeMapExt(out, options, tree); });
}

std::string treeMap(const NameTree& tree) { return treeMapExt(defaultTreeOpts(), tree); }

}  // namespace qv
