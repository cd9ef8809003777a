#include "treemap/box.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "tree/error.h"
#include "tree/show.h"

namespace qv {

// ---------------------------------------------------------------------------
// Forest building

// Every node of every laid-out tree pays for one of these.
static_assert(sizeof(void*) != 8 || sizeof(BoxForest::Node) == 32);
static_assert(sizeof(BoxForest::Table) == 12);

namespace {

constexpr std::size_t kMaxIndex = std::numeric_limits<BoxIndex>::max();

std::uint32_t checkedIndex(std::size_t n, const char* what) {
  if (n >= kMaxIndex) throw Error::program(std::string("too many ") + what + " in one box forest");
  return static_cast<std::uint32_t>(n);
}

}  // namespace

void BoxForest::reserve(std::size_t nodes, std::size_t tables, std::size_t cells) {
  nodes_.reserve(nodes);
  tables_.reserve(tables);
  cells_.reserve(cells);
}

BoxIndex BoxForest::addNode(Label name, std::int32_t id, bool grid) {
  const BoxIndex n = checkedIndex(nodes_.size(), "boxes");
  Node node;
  node.name = name;
  node.id = id;
  node.grid = grid;
  node.tableBegin = static_cast<std::uint32_t>(tables_.size());
  nodes_.push_back(node);
  return n;
}

std::uint32_t BoxForest::addTable(BoxIndex owner, std::int32_t cols, std::uint32_t cellCount) {
  const std::uint32_t t = checkedIndex(tables_.size(), "tables");
  checkedIndex(cells_.size() + cellCount, "cells");
  Node& node = nodes_[owner];
  if (node.tableCount == 0) node.tableBegin = t;
  ++node.tableCount;
  tables_.push_back(Table{cols, static_cast<std::uint32_t>(cells_.size()), cellCount});
  cells_.resize(cells_.size() + cellCount, 0);
  return t;
}

Label BoxForest::copyText(Label text) {
  return text_.copy(text);
}

// ---------------------------------------------------------------------------
// Constructors and accessors

namespace {

// Copies the subtrees of the given tables' cells into dst as the tables of owner.
// The copy is depth first, so every copied subtree stays contiguous in dst.
void copyTables(BoxForest& dst, BoxIndex owner, const std::vector<TableBox>& grid) {
  struct Pending {
    const BoxForest* src;
    BoxIndex node;
    std::uint32_t table;  // the dst table and position that receive the copy's index
    std::uint32_t position;
  };
  std::vector<Pending> stack;
  std::vector<Pending> cells;  // of one node, in order
  // The stack is last in, first out: pushing a node's cells in reverse copies them in order.
  auto pushCells = [&] {
    stack.insert(stack.end(), cells.rbegin(), cells.rend());
    cells.clear();
  };
  for (const TableBox& t : grid) {
    const std::uint32_t n = checkedIndex(t.tbCels.size(), "cells");
    const std::uint32_t table = dst.addTable(owner, t.tbCols, n);
    for (std::uint32_t i = 0; i < n; ++i) {
      cells.push_back({&t.tbCels[i].forest(), t.tbCels[i].node(), table, i});
    }
  }
  pushCells();
  while (!stack.empty()) {
    const Pending p = stack.back();
    stack.pop_back();
    const BoxForest& src = *p.src;
    const BoxIndex copy =
        dst.addNode(dst.copyText(src.name(p.node)), src.id(p.node), src.isGrid(p.node));
    dst.setCell(p.table, p.position, copy);
    for (const BoxForest::Table& t : src.tables(p.node)) {
      const std::uint32_t table = dst.addTable(copy, t.cols, t.cellCount);
      const auto from = src.cells(t);
      for (std::uint32_t i = 0; i < t.cellCount; ++i) cells.push_back({&src, from[i], table, i});
    }
    pushCells();
  }
}

}  // namespace

Box BoxText(Label name, std::int32_t id) {
  auto forest = std::make_shared<BoxForest>();
  forest->addNode(forest->copyText(name), id, false);
  return Box(std::move(forest), 0);
}

Box BoxGrid(Label name, std::int32_t id, const std::vector<TableBox>& grid) {
  auto forest = std::make_shared<BoxForest>();
  const BoxIndex root = forest->addNode(forest->copyText(name), id, true);
  copyTables(*forest, root, grid);
  return Box(std::move(forest), root);
}

Label boName(const Box& box) {
  return box.forest().name(box.node());
}
std::int32_t boId(const Box& box) {
  return box.forest().id(box.node());
}
bool isBoxGrid(const Box& box) {
  return box.forest().isGrid(box.node());
}

std::vector<TableBox> boGrid(const Box& box) {
  const BoxForest& f = box.forest();
  if (!f.isGrid(box.node())) throw Error::program("No match in record selector TreeMap.boGrid");
  std::vector<TableBox> grid;
  for (const BoxForest::Table& t : f.tables(box.node())) {
    std::vector<Box> cels;
    cels.reserve(t.cellCount);
    for (BoxIndex c : f.cells(t)) cels.emplace_back(box.sharedForest(), c);
    grid.emplace_back(t.cols, std::move(cels));
  }
  return grid;
}

// ---------------------------------------------------------------------------
// Textual forms

namespace {

// Appends the form of the subtree at root, walking it with an explicit stack.
void appendNode(std::string& out, const BoxForest& f, BoxIndex root) {
  struct Frame {
    BoxIndex node;
    std::uint32_t table;
    std::uint32_t cell;  // 0: table header not written yet; else cells written + 1
  };
  std::vector<Frame> stack;
  // Writes the node up to its tables; true when the node's tables are still to come.
  auto open = [&](BoxIndex n) {
    const bool grid = f.isGrid(n);
    out += grid ? "BoxGrid {boName = " : "BoxText {boName = ";
    appendQuoted(out, f.name(n));
    out += ", boId = ";
    out += std::to_string(f.id(n));
    out += grid ? ", boGrid = [" : "}";
    if (grid) stack.push_back({n, 0, 0});
  };
  open(root);
  while (!stack.empty()) {
    Frame& fr = stack.back();
    const auto tables = f.tables(fr.node);
    if (fr.table == tables.size()) {
      out += "]}";
      stack.pop_back();
      continue;
    }
    const BoxForest::Table& t = tables[fr.table];
    if (fr.cell == 0) {
      if (fr.table > 0) out += ',';
      out += "TableBox {tbCols = ";
      out += std::to_string(t.cols);
      out += ", tbCels = [";
      fr.cell = 1;
    }
    if (fr.cell - 1 == t.cellCount) {
      out += "]}";
      ++fr.table;
      fr.cell = 0;
      continue;
    }
    const BoxIndex c = f.cells(t)[fr.cell - 1];
    if (fr.cell > 1) out += ',';
    ++fr.cell;
    open(c);  // may grow the stack; fr is not used after this
  }
}

void appendBoxes(std::string& out, const std::vector<Box>& boxes) {
  out += '[';
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (i > 0) out += ',';
    appendNode(out, boxes[i].forest(), boxes[i].node());
  }
  out += ']';
}

void appendTable(std::string& out, const TableBox& t) {
  out += "TableBox {tbCols = ";
  out += std::to_string(t.tbCols);
  out += ", tbCels = ";
  appendBoxes(out, t.tbCels);
  out += '}';
}

// Records are function applications for precedence: at 11 or more they need parentheses.
template <class F>
std::string withPrec(int prec, F&& body) {
  std::string out;
  const bool parens = prec >= 11;
  if (parens) out += '(';
  body(out);
  if (parens) out += ')';
  return out;
}

}  // namespace

std::string showBox(int prec, const Box& box) {
  return withPrec(prec, [&](std::string& out) { appendNode(out, box.forest(), box.node()); });
}

std::string showTableBox(int prec, const TableBox& table) {
  return withPrec(prec, [&](std::string& out) { appendTable(out, table); });
}

std::string showBoxList(int, const std::vector<Box>& boxes) {
  std::string out;
  appendBoxes(out, boxes);
  return out;
}

std::string showTableBoxList(int, const std::vector<TableBox>& tables) {
  std::string out = "[";
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (i > 0) out += ',';
    appendTable(out, tables[i]);
  }
  out += ']';
  return out;
}

// ---------------------------------------------------------------------------
// Ordering

namespace {

template <class T>
std::strong_ordering orderOf(T a, T b) {
  return a <=> b;
}

// Compares two subtrees field by field in declaration order, depth first, and stops
// at the first difference.
std::strong_ordering compareNodes(const BoxForest& fa, BoxIndex a, const BoxForest& fb,
                                  BoxIndex b) {
  struct Frame {
    BoxIndex a, b;
    std::uint32_t table = 0;
    std::uint32_t cell = 0;
    bool colsDone = false;
  };
  std::vector<Frame> stack;
  // Compares alternative, name and id; pushes the pair when their tables are to come.
  auto head = [&](BoxIndex x, BoxIndex y) {
    // A subtree is equal to itself: values never change.
    if (&fa == &fb && x == y) return std::strong_ordering::equal;
    const bool gx = fa.isGrid(x), gy = fb.isGrid(y);
    if (gx != gy) return gx ? std::strong_ordering::greater : std::strong_ordering::less;
    if (auto c = Label::compare(fa.name(x), fb.name(y)) <=> 0; c != 0) return c;
    if (auto c = fa.id(x) <=> fb.id(y); c != 0) return c;
    if (gx) stack.push_back({x, y});
    return std::strong_ordering::equal;
  };
  if (auto c = head(a, b); c != 0) return c;
  while (!stack.empty()) {
    Frame& fr = stack.back();
    const auto ta = fa.tables(fr.a), tb = fb.tables(fr.b);
    if (fr.table == ta.size() || fr.table == tb.size()) {
      if (auto c = orderOf(ta.size(), tb.size()); c != 0) return c;
      stack.pop_back();
      continue;
    }
    const BoxForest::Table& xa = ta[fr.table];
    const BoxForest::Table& xb = tb[fr.table];
    if (!fr.colsDone) {
      if (auto c = xa.cols <=> xb.cols; c != 0) return c;
      fr.colsDone = true;
    }
    if (fr.cell == xa.cellCount || fr.cell == xb.cellCount) {
      if (auto c = orderOf(xa.cellCount, xb.cellCount); c != 0) return c;
      ++fr.table;
      fr.cell = 0;
      fr.colsDone = false;
      continue;
    }
    const BoxIndex x = fa.cells(xa)[fr.cell], y = fb.cells(xb)[fr.cell];
    ++fr.cell;
    if (auto c = head(x, y); c != 0) return c;  // may grow the stack; fr is not used after
  }
  return std::strong_ordering::equal;
}

}  // namespace

std::strong_ordering operator<=>(const Box& a, const Box& b) {
  return compareNodes(a.forest(), a.node(), b.forest(), b.node());
}

bool operator==(const Box& a, const Box& b) {
  return (a <=> b) == 0;
}

std::strong_ordering operator<=>(const TableBox& a, const TableBox& b) {
  if (auto c = a.tbCols <=> b.tbCols; c != 0) return c;
  const std::size_t n = std::min(a.tbCels.size(), b.tbCels.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (auto c = a.tbCels[i] <=> b.tbCels[i]; c != 0) return c;
  }
  return orderOf(a.tbCels.size(), b.tbCels.size());
}

bool operator==(const TableBox& a, const TableBox& b) {
  return (a <=> b) == 0;
}

// ---------------------------------------------------------------------------
// Options

TreeMapOptions defaultTreeOpts() {
  return {"white", {"yellow", "orange", "#9ACD32", "#FFD700", "#FF6347"}};
}

TreeMapOptions childOptions(const TreeMapOptions& options) {
  TreeMapOptions child = options;
  auto& colors = child.toAltColors;
  if (!colors.empty()) std::rotate(colors.begin(), colors.begin() + 1, colors.end());
  return child;
}

}  // namespace qv
