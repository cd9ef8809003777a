// The page cut into pieces where the subtree sizes say, so that several threads can
// write the pieces at once: a piece is a run of steps, each a part of the page.
#pragma once

#include <cstdint>
#include <vector>

#include "base/output.h"
#include "html/markup.h"
#include "platform/memory.h"
#include "treemap/box.h"

namespace qv {

// One step of writing the page.
struct PageStep {
  enum class Kind : std::uint8_t {
    PageBegin,
    PageEnd,
    Subtree,    // a whole box, with everything inside it
    BoxBegin,   // a box up to its children
    Cells,      // a run of a grid's cells, each with its whole box
    CellBegin,  // one cell opened; its box's steps follow
    CellEnd,
    GridEnd
  };
  Kind kind;
  bool last = false;  // CellBegin, CellEnd: the grid's last cell
  std::uint32_t depth = 0;
  NodeIndex box = 0;        // Subtree, BoxBegin: the box; Cells: the grid
  NodeIndex child = 0;      // Cells: the child whose place the first cell takes
  std::uint32_t j = 0;      // Cells, CellBegin, CellEnd: the (first) cell's position
  std::uint32_t count = 0;  // Cells: how many
  std::uint32_t cols = 0;   // Cells, CellBegin, CellEnd
};

// Writes the bytes of one step.
void writeStep(Output& out, const BoxMarkup& markup, const BoxForest& forest, const PageStep& step);

// Walks the page in the order it is written and cuts it into pieces of about
// pieceBytes: a subtree that fits is one step, a larger one is opened and its cells
// taken in runs that fit. Only the grids on the way down to the cuts are ever opened,
// so the walk is short however large the page.
class PagePlanner {
 public:
  PagePlanner(const BoxMarkup& markup, const BoxForest& forest,
              const LargeVector<std::uint64_t>& subtreeBytes, std::uint64_t pieceBytes);

  // The steps of the next piece; none when the page is done.
  std::vector<PageStep> next();

 private:
  struct Frame {
    NodeIndex grid;
    std::uint32_t depth;
    BoxForest::Cells::Iterator next, end;
    std::uint32_t j;  // cells begun
    std::uint32_t cols;
    bool cellOpen;  // cell j - 1 is begun and its box is being walked
  };

  void emit(PageStep step, std::uint64_t bytes) {
    piece_.push_back(step);
    filled_ += bytes;
  }
  void enter(NodeIndex box, std::uint32_t depth);
  void step();

  const BoxMarkup& markup_;
  const BoxForest& forest_;
  const LargeVector<std::uint64_t>& bytes_;
  const std::uint64_t pieceBytes_;
  std::vector<Frame> stack_;
  std::vector<PageStep> piece_;
  std::uint64_t filled_ = 0;
  bool begun_ = false;
  bool ended_ = false;
};

}  // namespace qv
