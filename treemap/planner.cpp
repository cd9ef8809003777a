#include "treemap/planner.h"

#include <algorithm>

#include "treemap/box_writer.h"

namespace qv {

void writeStep(Output& out, const BoxMarkup& markup, const BoxForest& forest,
               const PageStep& step) {
  using Kind = PageStep::Kind;
  switch (step.kind) {
    case Kind::PageBegin:
      return writePageBegin(out);
    case Kind::PageEnd:
      return writePageEnd(out);
    case Kind::Subtree:
      return renderBox(out, markup, forest, step.box, step.depth);
    case Kind::BoxBegin:
      return writeBoxBegin(out, markup, forest, step.box, step.depth);
    case Kind::Cells: {
      BoxForest::Cells::Iterator it(&forest, step.child);
      const BoxForest::Cells::Iterator end = forest.tbCels(step.box).end();
      for (std::uint32_t k = 0; k < step.count; ++k) {
        const NodeIndex cell = *it;
        ++it;
        writeCellBegin(out, markup, step.j + k, it == end, step.cols, step.depth);
        renderBox(out, markup, forest, cell, step.depth + 1);
        writeCellEnd(out, markup, step.j + k, it == end, step.cols, step.depth);
      }
      return;
    }
    case Kind::CellBegin:
      return writeCellBegin(out, markup, step.j, step.last, step.cols, step.depth);
    case Kind::CellEnd:
      return writeCellEnd(out, markup, step.j, step.last, step.cols, step.depth);
    case Kind::GridEnd:
      return markup.write(out, BoxPart::GridClose, step.depth);
  }
}

PagePlanner::PagePlanner(const BoxMarkup& markup, const BoxForest& forest,
                         const LargeVector<std::uint64_t>& subtreeBytes, std::uint64_t pieceBytes)
    : markup_(markup),
      forest_(forest),
      bytes_(subtreeBytes),
      pieceBytes_(std::max<std::uint64_t>(pieceBytes, 1)) {}

std::vector<PageStep> PagePlanner::next() {
  piece_.clear();
  filled_ = 0;
  while (filled_ < pieceBytes_ && !ended_) step();
  return std::move(piece_);
}

void PagePlanner::enter(NodeIndex box, std::uint32_t depth) {
  if (!forest_.isGrid(box) || bytes_[box] <= pieceBytes_) {
    emit({.kind = PageStep::Kind::Subtree, .depth = depth, .box = box}, bytes_[box]);
    return;
  }
  ByteCount begin;
  writeBoxBegin(begin, markup_, forest_, box, depth);
  emit({.kind = PageStep::Kind::BoxBegin, .depth = depth, .box = box}, begin.bytes());
  const BoxForest::Cells cells = forest_.tbCels(box);
  stack_.push_back({box, depth, cells.begin(), cells.end(), 0,
                    static_cast<std::uint32_t>(forest_.tbCols(box)), false});
}

void PagePlanner::step() {
  if (!begun_) {
    begun_ = true;
    emit({.kind = PageStep::Kind::PageBegin}, 0);
    enter(BoxForest::root(), 0);
    return;
  }
  if (stack_.empty()) {
    ended_ = true;
    emit({.kind = PageStep::Kind::PageEnd}, 0);
    return;
  }
  Frame& f = stack_.back();
  if (f.cellOpen) {
    f.cellOpen = false;
    emit({.kind = PageStep::Kind::CellEnd,
          .last = f.next == f.end,
          .depth = f.depth,
          .j = f.j - 1,
          .cols = f.cols},
         0);
    return;
  }
  if (f.next == f.end) {
    emit({.kind = PageStep::Kind::GridEnd, .depth = f.depth}, 0);
    stack_.pop_back();
    return;
  }
  const NodeIndex cell = *f.next;
  if (bytes_[cell] <= pieceBytes_) {
    // A run of cells that fit, as long as the piece has room.
    PageStep run{.kind = PageStep::Kind::Cells,
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
  emit({.kind = PageStep::Kind::CellBegin,
        .last = f.next == f.end,
        .depth = f.depth,
        .j = f.j,
        .cols = f.cols},
       0);
  ++f.j;
  f.cellOpen = true;
  enter(cell, f.depth + 1);  // may move the stack: f is not used after this
}

}  // namespace qv
