// What the tests read of labels and trees.
#pragma once

#include <cstddef>
#include <string>

#include "tree/label.h"
#include "tree/tree.h"

namespace qvtest {

// The characters of a label as bytes, each code cut to its low 8 bits.
inline std::string toBytes(qv::Label label) {
  return label.visit([](auto chars) {
    std::string out;
    out.reserve(chars.size());
    for (auto c : chars) out.push_back(static_cast<char>(c & 0xFF));
    return out;
  });
}

template <class T>
std::size_t childCount(const qv::Tree<T>& tree, qv::NodeIndex n) {
  std::size_t k = 0;
  for ([[maybe_unused]] qv::NodeIndex c : tree.children(n)) ++k;
  return k;
}

}  // namespace qvtest
