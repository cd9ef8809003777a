// The size pass: the page's bytes of every box's subtree, measured by running the
// box writers over a byte count, so that the page's size is known before its first
// byte and it can be cut at known offsets.
#pragma once

#include <cstdint>

#include "base/output.h"
#include "html/markup.h"
#include "platform/memory.h"
#include "treemap/box.h"

namespace qv {

struct SubtreeSizes {
  LargeVector<std::uint64_t> bytes;  // of every box's subtree, at the depth it has
  std::uint64_t lineFeeds = 0;       // of the whole tree's boxes
};

// Measures every box on `workers` threads (0: the calling thread alone).
SubtreeSizes measureSubtrees(const BoxMarkup& markup, const BoxForest& forest, unsigned workers);

}  // namespace qv
