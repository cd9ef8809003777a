#include "base/memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace qv {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

}  // namespace

void adviseHugePages(void* p, std::size_t bytes) noexcept {
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = roundUp(begin, kHugePage);
  const std::uintptr_t last = (begin + bytes) / kHugePage * kHugePage;
  if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* allocateLarge(std::size_t bytes) {
  if (bytes < kHugeThreshold) {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) throw std::bad_alloc();
    return p;
  }
  // Map a little more and trim it, so that the block starts on a huge page.
  const std::size_t size = roundUp(bytes, kHugePage);
  void* raw =
      ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = roundUp(start, kHugePage);
  if (aligned > start) ::munmap(raw, aligned - start);
  const std::uintptr_t tail = aligned + size;
  const std::uintptr_t end = start + size + kHugePage;
  if (end > tail) ::munmap(reinterpret_cast<void*>(tail), end - tail);
  void* p = reinterpret_cast<void*>(aligned);
  ::madvise(p, size, MADV_HUGEPAGE);
  return p;
}

void deallocateLarge(void* p, std::size_t bytes) noexcept {
  if (bytes < kHugeThreshold) {
    std::free(p);
    return;
  }
  ::munmap(p, roundUp(bytes, kHugePage));
}

}  // namespace qv
