#include "treemap/box_writer.h"

#include <vector>

namespace qv {

// From an explicit stack of the grids whose tables are being written.
void renderBox(Output& out, const BoxMarkup& markup, const BoxForest& forest, NodeIndex box,
               std::uint32_t depth) {
  std::vector<CellWalk> stack;
  auto enter = [&](NodeIndex b, std::uint32_t d) {
    writeBoxBegin(out, markup, forest, b, d);
    if (forest.isGrid(b)) stack.emplace_back(forest, b, d);
  };
  enter(box, depth);
  while (!stack.empty()) {
    const std::optional<NodeIndex> cell = stack.back().step(out, markup);
    if (cell) {
      enter(*cell, stack.back().depth() + 1);
    } else {
      stack.pop_back();
    }
  }
}

}  // namespace qv
