// The box model: a laid-out tree as nested boxes, and the colours they are drawn in.
//
// A Box is a leaf (BoxText: name, id) or a grid (BoxGrid: name, id, tables of child
// boxes); a TableBox arranges boxes row-major in tbCols columns. Laid-out trees hold
// millions of nodes and nest a million deep, so a Box is not a heap tree of its own:
// it is a handle {forest, node index} into an immutable flat BoxForest that stores
// every node, table and cell in three arrays. Handles are cheap to copy and share
// their forest; copying, comparing, showing and destroying never recurse.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "tree/label.h"
#include "tree/memory.h"

namespace qv {

using BoxIndex = std::uint32_t;

// The storage behind Box handles. Within a forest every node's subtree occupies the
// contiguous index range that starts at the node, so all descendants have larger
// indices than their ancestors. Built once, then only read (shared as const).
class BoxForest {
 public:
  // 32 bytes: the name view, the id, where the node's tables are, and the alternative.
  struct Node {
    Label name;
    std::int32_t id = 0;
    std::uint32_t tableBegin = 0;
    std::uint32_t tableCount = 0;
    bool grid = false;
  };
  // 12 bytes: the column count and where the table's cell indices are.
  struct Table {
    std::int32_t cols = 0;
    std::uint32_t cellBegin = 0;
    std::uint32_t cellCount = 0;
  };

  // Read-only view; nothing here allocates.
  std::size_t size() const { return nodes_.size(); }
  Label name(BoxIndex n) const { return nodes_[n].name; }
  std::int32_t id(BoxIndex n) const { return nodes_[n].id; }
  bool isGrid(BoxIndex n) const { return nodes_[n].grid; }
  std::span<const Table> tables(BoxIndex n) const {
    return {tables_.data() + nodes_[n].tableBegin, nodes_[n].tableCount};
  }
  std::span<const BoxIndex> cells(const Table& t) const {
    return {cells_.data() + t.cellBegin, t.cellCount};
  }

  // Building, before the forest is shared. Tables of one node are added one after
  // another; a table's cells are filled in with setCell.
  void reserve(std::size_t nodes, std::size_t tables, std::size_t cells);
  BoxIndex addNode(Label name, std::int32_t id, bool grid);
  std::uint32_t addTable(BoxIndex owner, std::int32_t cols, std::uint32_t cellCount);
  void setCell(std::uint32_t table, std::uint32_t position, BoxIndex cell) {
    cells_[tables_[table].cellBegin + position] = cell;
  }
  // Copies the characters of text into memory this forest owns.
  Label copyText(Label text);
  // Keeps alive memory that names of this forest point into.
  void keepAlive(std::shared_ptr<const void> owner) { owners_.push_back(std::move(owner)); }

 private:
  LargeVector<Node> nodes_;
  LargeVector<Table> tables_;
  LargeVector<BoxIndex> cells_;
  std::vector<std::shared_ptr<const void>> owners_;
  // Names given to the constructors, copied.
  TextArena text_;
};

class Box {
 public:
  Box(std::shared_ptr<const BoxForest> forest, BoxIndex node)
      : forest_(std::move(forest)), node_(node) {}
  const BoxForest& forest() const { return *forest_; }
  const std::shared_ptr<const BoxForest>& sharedForest() const { return forest_; }
  BoxIndex node() const { return node_; }

 private:
  std::shared_ptr<const BoxForest> forest_;
  BoxIndex node_;
};

// A plain value: its cells are handles, so building one copies no subtree.
struct TableBox {
  TableBox(std::int32_t cols, std::vector<Box> cels) : tbCols(cols), tbCels(std::move(cels)) {}
  std::int32_t tbCols;
  std::vector<Box> tbCels;
};

// Constructors. Each builds a new forest holding copies of the name and of the given
// subtrees, so the result does not depend on the forests of its arguments.
Box BoxText(Label name, std::int32_t id);
Box BoxGrid(Label name, std::int32_t id, const std::vector<TableBox>& grid);

// Accessors. boGrid of a BoxText throws the program error
// "No match in record selector TreeMap.boGrid".
Label boName(const Box& box);
std::int32_t boId(const Box& box);
bool isBoxGrid(const Box& box);
std::vector<TableBox> boGrid(const Box& box);
inline std::int32_t tbCols(const TableBox& t) {
  return t.tbCols;
}
inline const std::vector<Box>& tbCels(const TableBox& t) {
  return t.tbCels;
}

// Textual forms: record syntax with quoted names; at precedence 11 or more the whole
// form is parenthesised. Lists are never parenthesised, whatever the precedence.
std::string showBox(int prec, const Box& box);
std::string showTableBox(int prec, const TableBox& table);
std::string showBoxList(int prec, const std::vector<Box>& boxes);
std::string showTableBoxList(int prec, const std::vector<TableBox>& tables);

// Equality and total ordering: BoxText before BoxGrid, then the fields in order
// (name by character code, id, tables); a proper prefix of a list sorts first.
std::strong_ordering operator<=>(const Box& a, const Box& b);
bool operator==(const Box& a, const Box& b);
std::strong_ordering operator<=>(const TableBox& a, const TableBox& b);
bool operator==(const TableBox& a, const TableBox& b);

// Fill colours: leaves get toLeafColor; grid boxes take toAltColors in turn by depth.
struct TreeMapOptions {
  std::string toLeafColor;
  std::vector<std::string> toAltColors;
};

// "white" leaves; grids "yellow", "orange", "#9ACD32", "#FFD700", "#FF6347" by depth.
TreeMapOptions defaultTreeOpts();
// The options for the cells of a grid: toAltColors rotated left by one.
TreeMapOptions childOptions(const TreeMapOptions& options);

}  // namespace qv
