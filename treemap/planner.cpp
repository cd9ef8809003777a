#include "treemap/planner.h"

#include <algorithm>

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
      CellWalk walk = step.walk;
      for (std::uint32_t k = 0; k < step.count; ++k) {
        renderBox(out, markup, forest, *walk.step(out, markup), walk.depth() + 1);
      }
      return;
    }
    case Kind::Between: {
      CellWalk walk = step.walk;
      walk.step(out, markup);
      return;
    }
  }
}

PagePlanner::PagePlanner(const BoxMarkup& markup, const BoxForest& forest,
                         const SubtreeBytes& subtreeBytes, std::uint64_t pieceBytes)
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
  emit({.kind = PageStep::Kind::BoxBegin, .depth = depth, .box = box}, begin.size().bytes);
  stack_.emplace_back(forest_, box, depth);
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
  CellWalk& walk = stack_.back();
  auto fits = [&] {
    const std::optional<NodeIndex> box = walk.nextBox();
    return box && bytes_[*box] <= pieceBytes_;
  };
  if (fits()) {
    // A run of cells that fit, as long as the piece has room.
    PageStep run{.kind = PageStep::Kind::Cells, .walk = walk};
    std::uint64_t bytes = 0;
    while (fits() && (run.count == 0 || filled_ + bytes < pieceBytes_)) {
      ByteCount between;
      bytes += bytes_[*walk.step(between, markup_)] + between.size().bytes;
      ++run.count;
    }
    emit(run, bytes);
    return;
  }
  const PageStep between{.kind = PageStep::Kind::Between, .walk = walk};
  ByteCount count;
  const std::optional<NodeIndex> cell = walk.step(count, markup_);
  emit(between, count.size().bytes);
  if (cell) {
    enter(*cell, walk.depth() + 1);  // may move the stack: walk is not used after this
  } else {
    stack_.pop_back();
  }
}

}  // namespace qv
