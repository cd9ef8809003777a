#include "platform/memory.h"

#include <cstdlib>

#include "platform/platform.h"

namespace qv {

void* allocateLarge(std::size_t bytes) {
  if (bytes < kHugeThreshold) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }
  void* p = platform::mapLarge(bytes);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void deallocateLarge(void* p, std::size_t bytes) noexcept {
  if (bytes < kHugeThreshold) {
    std::free(p);
    return;
  }
  platform::unmapLarge(p, bytes);
}

}  // namespace qv
