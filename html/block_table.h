// BlockTable<P>: a table laid out from cells before it becomes elements.
//
// A table has a width (columns), a height (rows) and rows of cells; each cell
// carries a payload and a column and row span. Joining tables side by side or
// one above the other can stretch cells: the table's extra column span X goes to
// the cells on its right edge and its extra row span Y to the cells on its bottom
// edge. Every span is therefore base + (X or 0) and base + (Y or 0), so the table
// is stored as an explicit grid of cells with two flags per cell instead of as a
// generator of rows.
//
// Both joins are associative, so besides/aboves join n tables in one pass (linear
// in the number of cells, no recursion) with the same result as folding the binary
// join from the right. Joining an empty list is a fatal error.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "tree/error.h"

namespace qv {

template <class P>
struct BlockCell {
  P payload;
  std::int32_t colSpan = 1;     // the span when the table gets no extra columns
  std::int32_t rowSpan = 1;     // the span when the table gets no extra rows
  bool takesExtraCols = false;  // on the right edge: the extra column span reaches it
  bool takesExtraRows = false;  // on the bottom edge: the extra row span reaches it

  std::int32_t colSpanAt(std::int32_t extraCols) const {
    return colSpan + (takesExtraCols ? extraCols : 0);
  }
  std::int32_t rowSpanAt(std::int32_t extraRows) const {
    return rowSpan + (takesExtraRows ? extraRows : 0);
  }
};

enum class Direction { Horizontal, Vertical };

template <class P>
class BlockTable {
 public:
  using Cell = BlockCell<P>;

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  // Number of rows; always height().
  std::size_t rowCount() const { return static_cast<std::size_t>(height_); }
  // Row i left to right; the spans of the cells as placed without extra span are
  // colSpan/rowSpan, with extra spans X, Y they are colSpanAt(X)/rowSpanAt(Y).
  std::span<const Cell> row(std::size_t i) const {
    return std::span<const Cell>(cells_).subspan(rowBegin(i), rowEnd(i) - rowBegin(i));
  }
  // Hands the rows over top to bottom as f(std::span<Cell>), so payloads can be moved out.
  template <class F>
  void drainRows(F&& f) && {
    for (std::size_t i = 0; i < rowCount(); ++i) {
      f(std::span<Cell>(cells_).subspan(rowBegin(i), rowEnd(i) - rowBegin(i)));
    }
  }

  static BlockTable single(P payload) {
    BlockTable t;
    t.width_ = 1;
    t.height_ = 1;
    t.cells_.push_back(Cell{std::move(payload), 1, 1, true, true});
    return t;
  }

  // Left to right. Each table keeps its rows; row i of the result is row i of every
  // table that has one. Shorter tables stretch their bottom cells down to the full
  // height; only the last table keeps the right edge.
  static BlockTable joinHorizontal(std::vector<BlockTable> ts) {
    if (ts.empty()) throw Error::program("besides []");
    if (ts.size() == 1) return std::move(ts.front());
    const std::size_t k = ts.size();
    BlockTable r;
    r.width_ = 0;
    r.height_ = 0;
    std::size_t cellCount = 0;
    for (const BlockTable& t : ts) {
      r.width_ += t.width_;
      r.height_ = std::max(r.height_, t.height_);
      cellCount += t.cells_.size();
    }
    for (std::size_t j = 0; j < k; ++j) {
      const std::int32_t extraRows = r.height_ - ts[j].height_;
      for (Cell& c : ts[j].cells_) {
        if (c.takesExtraRows) c.rowSpan += extraRows;
        if (j + 1 < k) c.takesExtraCols = false;
      }
    }
    r.cells_.reserve(cellCount);
    const auto rows = static_cast<std::size_t>(r.height_);
    const bool manyRows = rows > 1;
    if (!manyRows) {
      for (BlockTable& t : ts) {
        for (Cell& c : t.cells_) r.cells_.push_back(std::move(c));
      }
      return r;
    }
    // The tables that still have row i, in order, as a doubly linked list; a table
    // leaves it at its height (bucketed), so the whole join is linear.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::vector<std::size_t> next(k), prev(k), bucketHead(rows + 1, kNone), bucketNext(k, kNone);
    for (std::size_t j = 0; j < k; ++j) {
      next[j] = j + 1 < k ? j + 1 : kNone;
      prev[j] = j > 0 ? j - 1 : kNone;
      const auto h = static_cast<std::size_t>(ts[j].height_);
      bucketNext[j] = bucketHead[h];
      bucketHead[h] = j;
    }
    std::size_t first = 0;
    r.rowStarts_.reserve(rows + 1);
    for (std::size_t i = 0; i < rows; ++i) {
      for (std::size_t j = bucketHead[i]; j != kNone; j = bucketNext[j]) {
        if (prev[j] != kNone) next[prev[j]] = next[j];
        if (next[j] != kNone) prev[next[j]] = prev[j];
        if (first == j) first = next[j];
      }
      r.rowStarts_.push_back(r.cells_.size());
      for (std::size_t j = first; j != kNone; j = next[j]) {
        BlockTable& t = ts[j];
        for (std::size_t c = t.rowBegin(i); c < t.rowEnd(i); ++c) {
          r.cells_.push_back(std::move(t.cells_[c]));
        }
      }
    }
    r.rowStarts_.push_back(r.cells_.size());
    return r;
  }

  // Top to bottom. Narrower tables stretch their right-edge cells to the full width;
  // only the last table keeps the bottom edge.
  static BlockTable joinVertical(std::vector<BlockTable> ts) {
    if (ts.empty()) throw Error::program("aboves []");
    if (ts.size() == 1) return std::move(ts.front());
    BlockTable r;
    r.width_ = 0;
    r.height_ = 0;
    std::size_t cellCount = 0;
    for (const BlockTable& t : ts) {
      r.width_ = std::max(r.width_, t.width_);
      r.height_ += t.height_;
      cellCount += t.cells_.size();
    }
    r.cells_.reserve(cellCount);
    r.rowStarts_.reserve(static_cast<std::size_t>(r.height_) + 1);
    for (std::size_t j = 0; j < ts.size(); ++j) {
      BlockTable& t = ts[j];
      const std::int32_t extraCols = r.width_ - t.width_;
      const bool last = j + 1 == ts.size();
      const std::size_t base = r.cells_.size();
      for (std::size_t i = 0; i < t.rowCount(); ++i) r.rowStarts_.push_back(base + t.rowBegin(i));
      for (Cell& c : t.cells_) {
        if (c.takesExtraCols) c.colSpan += extraCols;
        if (!last) c.takesExtraRows = false;
        r.cells_.push_back(std::move(c));
      }
    }
    r.rowStarts_.push_back(r.cells_.size());
    return r;
  }

 private:
  BlockTable() = default;
  std::int32_t width_ = 1;
  std::int32_t height_ = 1;
  std::vector<Cell> cells_;
  // height + 1 offsets into cells_; empty for a table of one row, which saves an
  // allocation for every single cell.
  std::vector<std::size_t> rowStarts_;
  std::size_t rowBegin(std::size_t i) const { return rowStarts_.empty() ? 0 : rowStarts_[i]; }
  std::size_t rowEnd(std::size_t i) const {
    return rowStarts_.empty() ? cells_.size() : rowStarts_[i + 1];
  }
};

// A one-cell table.
template <class P>
BlockTable<P> single(P payload) {
  return BlockTable<P>::single(std::move(payload));
}

// Left to right, all tables of the list.
template <class P>
BlockTable<P> besides(std::vector<BlockTable<P>> tables) {
  return BlockTable<P>::joinHorizontal(std::move(tables));
}

// Top to bottom, all tables of the list.
template <class P>
BlockTable<P> aboves(std::vector<BlockTable<P>> tables) {
  return BlockTable<P>::joinVertical(std::move(tables));
}

template <class P>
BlockTable<P> above(BlockTable<P> upper, BlockTable<P> lower) {
  std::vector<BlockTable<P>> ts;
  ts.push_back(std::move(upper));
  ts.push_back(std::move(lower));
  return aboves(std::move(ts));
}

// Horizontal: a left of b; vertical: a above b.
template <class P>
BlockTable<P> combine(BlockTable<P> a, BlockTable<P> b, Direction direction) {
  std::vector<BlockTable<P>> ts;
  ts.push_back(std::move(a));
  ts.push_back(std::move(b));
  return direction == Direction::Horizontal ? besides(std::move(ts)) : aboves(std::move(ts));
}

}  // namespace qv
