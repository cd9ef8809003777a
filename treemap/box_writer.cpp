#include "treemap/box_writer.h"

#include <vector>

namespace qv {

// From an explicit stack: each frame is a grid whose children table is being
// written, cell by cell.
void renderBox(Output& out, const BoxMarkup& markup, const BoxForest& forest, NodeIndex box,
               std::size_t depth) {
  struct Frame {
    std::size_t depth;
    BoxForest::Cells::Iterator next, end;
    std::uint32_t j, cols;
  };
  std::vector<Frame> stack;
  auto enter = [&](NodeIndex b, std::size_t d) {
    writeBoxBegin(out, markup, forest, b, d);
    if (!forest.isGrid(b)) return;
    const BoxForest::Cells cells = forest.tbCels(b);
    stack.push_back(
        {d, cells.begin(), cells.end(), 0, static_cast<std::uint32_t>(forest.tbCols(b))});
  };
  enter(box, depth);
  while (!stack.empty()) {
    Frame& f = stack.back();
    if (f.j > 0) writeCellEnd(out, markup, f.j - 1, f.next == f.end, f.cols, f.depth);
    if (f.next == f.end) {
      markup.write(out, BoxPart::GridClose, f.depth);
      stack.pop_back();
      continue;
    }
    const NodeIndex child = *f.next;
    ++f.next;
    writeCellBegin(out, markup, f.j, f.next == f.end, f.cols, f.depth);
    ++f.j;
    enter(child, f.depth + 1);  // may move the stack: f is not used after this
  }
}

}  // namespace qv
