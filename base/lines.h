// The lines of a text, for everything that shows a text line by line (a box's label,
// its size in the layout, the usage text): every line ends at a line feed or at the
// end of the text, so a final line feed starts no line and the empty text has none.
#pragma once

#include <algorithm>
#include <span>
#include <string_view>

#include "platform/find_byte.h"

namespace qv {

// Calls line(span) for every line of text, in order, without its line feed.
template <class C, class F>
void forEachLine(std::span<const C> text, F&& line) {
  const C* p = text.data();
  const C* const end = p + text.size();
  while (p < end) {
    const C* stop;
    if constexpr (sizeof(C) == 1) {
      // findByte scans in blocks, which matters for a text that is most of a document.
      const C* const at = findByte(p, '\n', static_cast<std::size_t>(end - p));
      stop = at == nullptr ? end : at;
    } else {
      stop = std::find(p, end, C('\n'));
    }
    line(std::span<const C>(p, stop));
    p = stop + 1;
  }
}

template <class F>
void forEachLine(std::string_view text, F&& line) {
  forEachLine(std::span<const char>(text.data(), text.size()), line);
}

}  // namespace qv
