// The size pass: the page's bytes of every box's subtree, measured by running the
// box writers over a byte count, so that the page's size is known before its first
// byte and it can be cut at known offsets.
#pragma once

#include <cstdint>

#include "html/markup.h"
#include "platform/memory.h"
#include "treemap/box.h"

namespace qv {

// The bytes of every box's subtree, each at the depth it has, as they reach the file.
LargeVector<std::uint64_t> measureSubtrees(const BoxMarkup& markup, const BoxForest& forest);

}  // namespace qv
