// Large arrays (the trees, the box forest: hundreds of megabytes for a large
// document) from pages of their own, which take fewer faults than the heap's.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

#include "platform/platform.h"

namespace qv {

inline constexpr std::size_t kHugeThreshold = std::size_t{4} << 20;

// Allocates bytes; blocks of kHugeThreshold and more are pages of their own (mapLarge).
inline void* allocateLarge(std::size_t bytes) {
  void* p =
      bytes < kHugeThreshold ? std::malloc(bytes == 0 ? 1 : bytes) : platform::mapLarge(bytes);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

inline void deallocateLarge(void* p, std::size_t bytes) noexcept {
  if (bytes < kHugeThreshold) {
    std::free(p);
  } else {
    platform::unmapLarge(p, bytes);
  }
}

template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    return static_cast<T*>(allocateLarge(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { deallocateLarge(p, n * sizeof(T)); }
  friend bool operator==(LargeAllocator, LargeAllocator) noexcept { return true; }
};

// A vector whose large buffers come straight from the system's pages.
template <class T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

}  // namespace qv
