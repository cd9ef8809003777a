#include "treemap/render.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/threads.h"
#include "html/box.h"
#include "html/html.h"
#include "treemap/layout.h"

namespace qv {
namespace {

// Tag indentation of a box at depth d: its TABLE at 2 + 12d (the root box sits in
// the page's "HTML" element), its rows and cells at + 2 and + 4 (mkHTMLBox), its
// children table at + 6, that table's rows at + 8, its cells at + 10, and the
// children's own TABLEs at + 12, which is depth d + 1.
std::size_t boxIndent(std::size_t depth) {
  return 2 + 12 * depth;
}
constexpr std::size_t kChildTable = 6, kChildRow = 8, kChildCell = 10;

// The bytes of a page that depend only on a box's depth, in the order a box uses them.
enum class Part {
  LeafHead,  // a leaf's mkHTMLBox head; its label division follows
  GridHead,  // a grid's, in the colour of its depth
  LeafTail,  // after a leaf's label division
  GridOpen,  // after a grid's label division, up to its children table's tag
  RowOpen,   // a row of the children table
  CellOpen,  // a cell of it, spanning one column
  CellClose,
  RowClose,
  GridClose,  // the children table closed, then the rest of the grid's box
};
constexpr std::size_t kParts = 9;

}  // namespace

// The parts are made once for the first depths, where nearly every box of a document
// lies, and copied from there: the page is mostly these bytes. Deeper boxes make them
// afresh, and their indentation dominates their cost anyway.
class PageParts {
 public:
  // Caches the parts of the first `depths` depths (at most kCachedDepths).
  PageParts(const TreeMapOptions& options, std::size_t depths)
      : leaf_(styled(options.toLeafColor)) {
    for (const std::string& colour : options.toAltColors) grids_.push_back(styled(colour));
    cache_.resize(std::min(depths, kCachedDepths));
    for (std::size_t d = 0; d < cache_.size(); ++d) {
      for (std::size_t p = 0; p < kParts; ++p) {
        const Part part = static_cast<Part>(p);
        if (part == Part::GridHead && grids_.empty()) continue;
        // Room for the part at once: growing it is most of what the cache costs.
        cache_[d][p].reserve(kPartRoom + d);
        StringOutput to(cache_[d][p]);
        make(to, part, d);
      }
    }
  }

  template <class Out>
  void write(Out& out, Part part, std::size_t depth) const {
    if (depth < cache_.size()) {
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
  static constexpr std::size_t kPartRoom = 256;

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

namespace {

// A short last row under full rows: its last cell spans the missing columns.
std::uint32_t lastCellSpan(std::uint32_t count, std::uint32_t cols) {
  const std::uint32_t lastRow = count % cols;
  return count > cols && lastRow != 0 ? cols - lastRow + 1 : 1;
}

}  // namespace

// ---- What each box writes. The writers, the size pass and the planner of pieces
// all go through these, so that the page has one set of rules.

// The box up to its children: mkHTMLBox's head, the label division, and a leaf's
// tail or a grid's opening of its children table, hidden and found by the id the
// label's click handler passes to displayBox.
template <class Out>
void writeBoxBegin(Out& out, const PageParts& parts, const BoxForest& forest, BoxIndex box,
                   std::size_t depth) {
  const bool grid = forest.isGrid(box);
  const std::int32_t id = forest.boId(box, depth);
  parts.write(out, grid ? Part::GridHead : Part::LeafHead, depth);
  writeLabelDivision(out, forest.boName(box), id);
  if (!grid) {
    parts.write(out, Part::LeafTail, depth);
    return;
  }
  parts.write(out, Part::GridOpen, depth);
  char value[32] = "boxId";
  const auto end = std::to_chars(value + 5, value + sizeof value, id).ptr;
  const std::array<HtmlAttr, 2> attrs = {
      HtmlAttr{"ID", std::string_view(value, static_cast<std::size_t>(end - value))},
      HtmlAttr{"STYLE", "display: none;"}};
  renderTag(out, TagKind::Opening, "TABLE", attrs, boxIndent(depth) + kChildTable);
}

// The "TD" of a cell that spans `span` columns.
template <class Out>
void writeSpanningCell(Out& out, std::uint32_t span, std::size_t depth) {
  char digits[32];  // room beyond any count, which the compiler cannot see
  const auto end = std::to_chars(digits, digits + sizeof digits, span).ptr;
  const HtmlAttr colspan{"COLSPAN",
                         std::string_view(digits, static_cast<std::size_t>(end - digits))};
  renderTag(out, TagKind::Opening, "TD", std::span<const HtmlAttr>(&colspan, 1),
            boxIndent(depth) + kChildCell);
}

// Cell j of a grid at depth, opened and closed around the child's box, with the row
// it begins or ends; last says it is the grid's last cell.
template <class Out>
void writeCellBegin(Out& out, const PageParts& parts, std::uint32_t j, bool last,
                    std::uint32_t cols, std::size_t depth) {
  if (j % cols == 0) parts.write(out, Part::RowOpen, depth);
  const std::uint32_t span = last ? lastCellSpan(j + 1, cols) : 1;
  if (span == 1) {
    parts.write(out, Part::CellOpen, depth);
  } else {
    writeSpanningCell(out, span, depth);
  }
}

template <class Out>
void writeCellEnd(Out& out, const PageParts& parts, std::uint32_t j, bool last, std::uint32_t cols,
                  std::size_t depth) {
  parts.write(out, Part::CellClose, depth);
  if ((j + 1) % cols == 0 || last) parts.write(out, Part::RowClose, depth);
}

template <class Out>
void writeGridEnd(Out& out, const PageParts& parts, std::size_t depth) {
  parts.write(out, Part::GridClose, depth);
}

template <class Out>
void writePageBegin(Out& out) {
  out.write(renderMessage());
  renderTag(out, TagKind::Opening, "HTML", {}, 0);
  out.write(displayBoxJS());
}

template <class Out>
void writePageEnd(Out& out) {
  renderTag(out, TagKind::Closing, "HTML", {}, 0);
  out.put('\n');
}

// renderBox: the box at depth and everything inside it, from an explicit stack: each
// frame is a grid whose children table is being written, cell by cell.
void renderBox(Output& out, const PageParts& parts, const BoxForest& forest, BoxIndex box,
               std::size_t depth) {
  struct Frame {
    BoxIndex grid;
    std::size_t depth;
    BoxForest::Cells::Iterator next, end;
    std::uint32_t j, cols;
  };
  std::vector<Frame> stack;
  auto enter = [&](BoxIndex b, std::size_t d) {
    writeBoxBegin(out, parts, forest, b, d);
    if (!forest.isGrid(b)) return;
    const BoxForest::Cells cells = forest.tbCels(b);
    stack.push_back(
        {b, d, cells.begin(), cells.end(), 0, static_cast<std::uint32_t>(forest.tbCols(b))});
  };
  enter(box, depth);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.j > 0) {
      writeCellEnd(out, parts, f.j - 1, f.next == f.end, f.cols, f.depth);
    }
    if (f.next == f.end) {
      writeGridEnd(out, parts, f.depth);
      stack.pop_back();
      continue;
    }
    const BoxIndex child = *f.next;
    ++f.next;
    writeCellBegin(out, parts, f.j, f.next == f.end, f.cols, f.depth);
    ++f.j;
    enter(child, f.depth + 1);  // may move the stack: f is not used after this
  }
}

// ---- The size pass: every box's subtree, measured by the writers' own rules.

namespace {

// The bytes of box b at depth and everything inside it, its cells measured already.
std::uint64_t measureBox(const PageParts& parts, const BoxForest& forest,
                         const LargeVector<std::uint64_t>& bytes, BoxIndex b, std::size_t depth) {
  ByteCount own;
  writeBoxBegin(own, parts, forest, b, depth);
  std::uint64_t total = own.bytes();
  if (!forest.isGrid(b)) return total;
  std::uint32_t count = 0;
  for (BoxIndex c : forest.tbCels(b)) {
    total += bytes[c];
    ++count;
  }
  const auto cols = static_cast<std::uint32_t>(forest.tbCols(b));
  const std::uint64_t rows = (count + cols - 1) / cols;
  total += rows * (parts.size(Part::RowOpen, depth) + parts.size(Part::RowClose, depth)) +
           count * (parts.size(Part::CellOpen, depth) + parts.size(Part::CellClose, depth)) +
           parts.size(Part::GridClose, depth);
  if (const std::uint32_t span = lastCellSpan(count, cols); span != 1) {
    // The last cell's TD carries COLSPAN instead of being the plain one.
    ByteCount spanning;
    writeSpanningCell(spanning, span, depth);
    total += spanning.bytes() - parts.size(Part::CellOpen, depth);
  }
  return total;
}

// Every box's subtree, from the leaves up: disjoint subtrees on several threads at
// once, then the few boxes above them.
LargeVector<std::uint64_t> measureSubtrees(const PageParts& parts, const BoxForest& forest) {
  const NameTree& tree = forest.tree();
  LargeVector<std::uint64_t> bytes(forest.size());
  const unsigned workers = workerThreads();
  const TreeSplit split = splitForWorkers(tree, workers);
  forEachInParallel(split.units.size(), workers, [&](std::size_t u) {
    const auto [begin, end, depth] = split.units[u];
    // Depths within the unit: its subtrees' roots have the unit's, and a grid comes
    // before its cells.
    std::vector<std::uint32_t> depths(end - begin);
    for (BoxIndex b = begin; b < end; b += tree.subtreeSize(b)) depths[b - begin] = depth;
    for (BoxIndex b = begin; b < end; ++b) {
      for (BoxIndex c : forest.tbCels(b)) depths[c - begin] = depths[b - begin] + 1;
    }
    for (BoxIndex b = end; b-- > begin;)
      bytes[b] = measureBox(parts, forest, bytes, b, depths[b - begin]);
  });
  for (auto it = split.above.rbegin(); it != split.above.rend(); ++it) {
    bytes[it->node] = measureBox(parts, forest, bytes, it->node, it->depth);
  }
  return bytes;
}

}  // namespace

namespace {

// How many depths a small tree's page uses, so that its parts are not made for
// depths it never reaches: the cache of every depth costs a page of a few boxes
// many times what its boxes do. Large trees take the whole cache.
std::size_t depthsUsed(const NameTree& tree) {
  constexpr std::size_t kSmallTree = std::size_t{1} << 16;
  if (tree.size() > kSmallTree) return static_cast<std::size_t>(-1);
  std::vector<NodeIndex> ends;  // of the subtrees that hold n
  std::size_t most = 0;
  for (NodeIndex n = 0; n < tree.size(); ++n) {
    while (!ends.empty() && ends.back() <= n) ends.pop_back();
    ends.push_back(n + tree.subtreeSize(n));
    most = std::max(most, ends.size());
  }
  return most;
}

}  // namespace

TreeMapPage::TreeMapPage(TreeMapOptions options, BoxForest forest)
    : parts_(std::make_shared<const PageParts>(options, depthsUsed(forest.tree()))),
      forest_(std::move(forest)) {
  subtreeBytes_ = measureSubtrees(*parts_, forest_);
  ByteCount around;
  writePageBegin(around);
  writePageEnd(around);
  size_ = around.bytes() + subtreeBytes_[BoxForest::root()];
}

// ---- Pieces: the page cut where the subtree sizes say, so that threads can write
// the pieces at once.

namespace {

// One step of writing the page. A piece is a run of steps.
struct Op {
  enum class Kind : std::uint8_t {
    PageBegin,
    PageEnd,
    Subtree,
    BoxBegin,
    Cells,
    CellBegin,
    CellEnd,
    GridEnd
  };
  Kind kind;
  bool last = false;  // CellBegin, CellEnd: the grid's last cell
  std::uint32_t depth = 0;
  BoxIndex box = 0;         // Subtree, BoxBegin: the box; Cells: the grid
  NodeIndex child = 0;      // Cells: the child whose place the first cell takes
  std::uint32_t j = 0;      // Cells, CellBegin, CellEnd: the (first) cell's position
  std::uint32_t count = 0;  // Cells: how many
  std::uint32_t cols = 0;   // Cells, CellBegin, CellEnd
};

void execute(Output& out, const PageParts& parts, const BoxForest& forest, const Op& op) {
  switch (op.kind) {
    case Op::Kind::PageBegin:
      return writePageBegin(out);
    case Op::Kind::PageEnd:
      return writePageEnd(out);
    case Op::Kind::Subtree:
      return renderBox(out, parts, forest, op.box, op.depth);
    case Op::Kind::BoxBegin:
      return writeBoxBegin(out, parts, forest, op.box, op.depth);
    case Op::Kind::Cells: {
      BoxForest::Cells::Iterator it(&forest, op.child);
      const BoxForest::Cells::Iterator end = forest.tbCels(op.box).end();
      for (std::uint32_t k = 0; k < op.count; ++k) {
        const BoxIndex cell = *it;
        ++it;
        writeCellBegin(out, parts, op.j + k, it == end, op.cols, op.depth);
        renderBox(out, parts, forest, cell, op.depth + 1);
        writeCellEnd(out, parts, op.j + k, it == end, op.cols, op.depth);
      }
      return;
    }
    case Op::Kind::CellBegin:
      return writeCellBegin(out, parts, op.j, op.last, op.cols, op.depth);
    case Op::Kind::CellEnd:
      return writeCellEnd(out, parts, op.j, op.last, op.cols, op.depth);
    case Op::Kind::GridEnd:
      return writeGridEnd(out, parts, op.depth);
  }
}

// Walks the page in the order it is written and cuts it into pieces of about
// pieceBytes: a subtree that fits is one step, a larger one is opened and its cells
// taken in runs that fit. Only the grids on the way down to the cuts are ever opened,
// so the walk is short however large the page.
class PagePlanner {
 public:
  PagePlanner(const PageParts& parts, const BoxForest& forest,
              const LargeVector<std::uint64_t>& subtreeBytes, std::uint64_t pieceBytes)
      : parts_(parts),
        forest_(forest),
        bytes_(subtreeBytes),
        pieceBytes_(std::max<std::uint64_t>(pieceBytes, 1)) {}

  // The steps of the next piece; none when the page is done.
  std::vector<Op> next() {
    piece_.clear();
    filled_ = 0;
    while (filled_ < pieceBytes_ && !ended_) step();
    return std::move(piece_);
  }

 private:
  struct Frame {
    BoxIndex grid;
    std::uint32_t depth;
    BoxForest::Cells::Iterator next, end;
    std::uint32_t j;  // cells begun
    std::uint32_t cols;
    bool cellOpen;  // cell j - 1 is begun and its box is being walked
  };

  void emit(Op op, std::uint64_t bytes) {
    piece_.push_back(op);
    filled_ += bytes;
  }

  void enter(BoxIndex box, std::uint32_t depth) {
    if (!forest_.isGrid(box) || bytes_[box] <= pieceBytes_) {
      emit({.kind = Op::Kind::Subtree, .depth = depth, .box = box}, bytes_[box]);
      return;
    }
    ByteCount begin;
    writeBoxBegin(begin, parts_, forest_, box, depth);
    emit({.kind = Op::Kind::BoxBegin, .depth = depth, .box = box}, begin.bytes());
    const BoxForest::Cells cells = forest_.tbCels(box);
    stack_.push_back({box, depth, cells.begin(), cells.end(), 0,
                      static_cast<std::uint32_t>(forest_.tbCols(box)), false});
  }

  void step() {
    if (!begun_) {
      begun_ = true;
      emit({.kind = Op::Kind::PageBegin}, 0);
      enter(BoxForest::root(), 0);
      return;
    }
    if (stack_.empty()) {
      ended_ = true;
      emit({.kind = Op::Kind::PageEnd}, 0);
      return;
    }
    Frame& f = stack_.back();
    if (f.cellOpen) {
      f.cellOpen = false;
      emit({.kind = Op::Kind::CellEnd,
            .last = f.next == f.end,
            .depth = f.depth,
            .j = f.j - 1,
            .cols = f.cols},
           0);
      return;
    }
    if (f.next == f.end) {
      emit({.kind = Op::Kind::GridEnd, .depth = f.depth}, 0);
      stack_.pop_back();
      return;
    }
    const BoxIndex cell = *f.next;
    if (bytes_[cell] <= pieceBytes_) {
      // A run of cells that fit, as long as the piece has room.
      Op run{.kind = Op::Kind::Cells,
             .depth = f.depth,
             .box = f.grid,
             .child = f.next.child(),
             .j = f.j,
             .cols = f.cols};
      std::uint64_t bytes = 0;
      while (f.next != f.end && bytes_[*f.next] <= pieceBytes_ &&
             (run.count == 0 || filled_ + bytes < pieceBytes_)) {
        bytes += bytes_[*f.next];
        ++f.next;
        ++f.j;
        ++run.count;
      }
      emit(run, bytes);
      return;
    }
    ++f.next;
    emit({.kind = Op::Kind::CellBegin,
          .last = f.next == f.end,
          .depth = f.depth,
          .j = f.j,
          .cols = f.cols},
         0);
    ++f.j;
    f.cellOpen = true;
    enter(cell, f.depth + 1);  // may move the stack: f is not used after this
  }

  const PageParts& parts_;
  const BoxForest& forest_;
  const LargeVector<std::uint64_t>& bytes_;
  const std::uint64_t pieceBytes_;
  std::vector<Frame> stack_;
  std::vector<Op> piece_;
  std::uint64_t filled_ = 0;
  bool begun_ = false;
  bool ended_ = false;
};

}  // namespace

void TreeMapPage::write(Sink& sink, unsigned workers, std::size_t bufferSize) const {
  bufferSize = std::max<std::size_t>(bufferSize, 1);
  const PageParts& parts = *parts_;
  // Pieces of half what a worker may buffer keep every worker busy while the piece
  // before its own is written; with no workers the page is one piece.
  const std::uint64_t pieceBytes =
      workers == 0 ? size_ : std::max<std::uint64_t>(kBuffersPerWorker / 2 * bufferSize, 1);
  PagePlanner planner(parts, forest_, subtreeBytes_, pieceBytes);
  writePieces(sink, workers, bufferSize, [&]() -> PieceJob {
    std::vector<Op> ops = planner.next();
    if (ops.empty()) return {};
    return [&parts, this, ops = std::move(ops)](Output& out) {
      for (const Op& op : ops) execute(out, parts, forest_, op);
    };
  });
}

void TreeMapPage::write(Sink& sink) const {
  // Every worker holds a few megabytes of buffers, which only a large tree does not
  // notice: memory must grow with the document, not with its page, and a small deep
  // document can ask for a page of gigabytes. Smaller trees are written by the
  // calling thread alone, through one buffer, as fast as their pages go anyway.
  constexpr std::size_t kParallelNodes = std::size_t{1} << 20;
  const unsigned workers = forest_.size() >= kParallelNodes ? workerThreads() : 0;
  write(sink, workers, Output::kDefaultCapacity);
}

TreeMapPage treeMapExt(const TreeMapOptions& options, std::shared_ptr<const NameTree> tree) {
  return TreeMapPage(options, treeMapLBox(std::move(tree)));
}

}  // namespace qv
