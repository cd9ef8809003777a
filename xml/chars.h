// The reader's blank characters: 9..13, 32 and 160. They separate a tag's name
// from its attributes, and a text of nothing else makes no node.
#pragma once

namespace qv {

constexpr bool isBlank(char32_t c) {
  return (c >= 9 && c <= 13) || c == 32 || c == 160;
}

}  // namespace qv
