#include "tree/label.h"

#include <algorithm>
#include <cstring>

#include "platform/memory.h"

namespace qv {

std::u32string toU32(Label label) {
  return label.visit([](auto chars) { return std::u32string(chars.begin(), chars.end()); });
}

// Only allocate() makes blocks.
inline TextArena::Block::Block(std::size_t n)
    : data(static_cast<char*>(allocateLarge(n))), size(n) {}

TextArena::Block::~Block() {
  if (data != nullptr) deallocateLarge(data, size);
}

char* TextArena::allocate(std::size_t n, std::size_t align) {
  const std::size_t pad = (align - reinterpret_cast<std::uintptr_t>(next_) % align) % align;
  if (next_ == nullptr || pad + n > left_) {
    // A label larger than a block gets a block of its own.
    const std::size_t size = std::max(nextBlockSize_, n + align);
    nextBlockSize_ = std::min(nextBlockSize_ * 2, kMaxBlockSize);
    blocks_.emplace_back(size);
    next_ = blocks_.back().data;
    left_ = size;
    return allocate(n, align);
  }
  char* at = next_ + pad;
  next_ = at + n;
  left_ -= pad + n;
  return at;
}

Label TextArena::add(std::string_view narrow) {
  if (narrow.empty()) return Label();
  char* at = allocate(narrow.size());
  std::memcpy(at, narrow.data(), narrow.size());
  return Label(std::string_view(at, narrow.size()));
}

Label TextArena::add(std::u32string_view wide) {
  char* at = allocate(wide.size() * sizeof(char32_t), alignof(char32_t));
  if (!wide.empty()) std::memcpy(at, wide.data(), wide.size() * sizeof(char32_t));
  return Label(std::u32string_view(reinterpret_cast<const char32_t*>(at), wide.size()));
}

}  // namespace qv
