// The page cut into pieces where the subtree sizes say, so that several threads can
// write the pieces at once: a piece is a run of steps, each a part of the page.
#pragma once

#include <cstdint>
#include <vector>

#include "base/output.h"
#include "html/markup.h"
#include "platform/memory.h"
#include "treemap/box.h"
#include "treemap/box_writer.h"
#include "treemap/page_size.h"

namespace qv {

// One step of writing the page.
struct PageStep {
  enum class Kind : std::uint8_t {
    PageBegin,
    PageEnd,
    Subtree,   // a whole box, with everything inside it
    BoxBegin,  // a box up to its children
    Cells,     // `count` steps of a grid's walk, each followed by its cell's whole box
    Between    // one step of a grid's walk: a large cell's opening, or the table's end
  };
  Kind kind;
  std::uint32_t depth = 0;  // Subtree, BoxBegin
  NodeIndex box = 0;        // Subtree, BoxBegin
  std::uint32_t count = 0;  // Cells
  CellWalk walk{};          // Cells, Between: the grid's walk where the step begins
};

// Writes the bytes of one step.
void writeStep(Output& out, const BoxMarkup& markup, const BoxForest& forest, const PageStep& step);

// Walks the page in the order it is written and cuts it into pieces of about
// pieceBytes: a subtree that fits is one step, a larger one is opened and its cells
// taken in runs that fit. Only the grids on the way down to the cuts are ever opened,
// so the walk is short however large the page.
class PagePlanner {
 public:
  PagePlanner(const BoxMarkup& markup, const BoxForest& forest, const SubtreeBytes& subtreeBytes,
              std::uint64_t pieceBytes);

  // The steps of the next piece; none when the page is done.
  std::vector<PageStep> next();

 private:
  void emit(const PageStep& step, std::uint64_t bytes) {
    piece_.push_back(step);
    filled_ += bytes;
  }
  void enter(NodeIndex box, std::uint32_t depth);
  void step();

  const BoxMarkup& markup_;
  const BoxForest& forest_;
  const SubtreeBytes& bytes_;
  const std::uint64_t pieceBytes_;
  std::vector<CellWalk> stack_;  // the grids opened on the way down
  std::vector<PageStep> piece_;
  std::uint64_t filled_ = 0;
  bool begun_ = false;
  bool ended_ = false;
};

}  // namespace qv
