// The size pass: the page's bytes of every box's subtree, measured by running the
// box writers over a byte count, so that the page's size is known before its first
// byte and it can be cut at known offsets.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "base/output.h"
#include "html/markup.h"
#include "platform/memory.h"
#include "treemap/box.h"

namespace qv {

// The bytes of every box's subtree, four bytes a box: the few of 4 GiB and more
// (boxes near the root of a deep document's page) are kept aside.
class SubtreeBytes {
 public:
  SubtreeBytes() = default;
  explicit SubtreeBytes(std::size_t boxes) : small_(boxes), large_(std::make_unique<Large>()) {}
  std::uint64_t operator[](NodeIndex b) const {
    const std::uint32_t bytes = small_[b];
    return bytes != kLarge ? bytes : large(b);
  }
  // Several threads may set boxes at once, each its own.
  void set(NodeIndex b, std::uint64_t bytes) {
    if (bytes < kLarge) {
      small_[b] = static_cast<std::uint32_t>(bytes);
    } else {
      setLarge(b, bytes);
    }
  }

 private:
  static constexpr std::uint32_t kLarge = 0xFFFFFFFF;
  struct Large {
    std::mutex lock;
    std::unordered_map<NodeIndex, std::uint64_t> bytes;
  };
  std::uint64_t large(NodeIndex b) const;
  void setLarge(NodeIndex b, std::uint64_t bytes);
  LargeVector<std::uint32_t> small_;
  std::unique_ptr<Large> large_;
};

struct SubtreeSizes {
  SubtreeBytes bytes;           // of every box's subtree, at the depth it has
  std::uint64_t lineFeeds = 0;  // of the whole tree's boxes
};

// Measures every box on `workers` threads (0: the calling thread alone).
SubtreeSizes measureSubtrees(const BoxMarkup& markup, const BoxForest& forest, unsigned workers);

}  // namespace qv
