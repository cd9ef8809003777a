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
  if (std::all_of(wide.begin(), wide.end(), [](char32_t c) { return c <= 0xFFFF; })) {
    auto* at =
        reinterpret_cast<char16_t*>(allocate(wide.size() * sizeof(char16_t), alignof(char16_t)));
    std::copy(wide.begin(), wide.end(), at);
    return Label(std::u16string_view(at, wide.size()));
  }
  char* at = allocate(wide.size() * sizeof(char32_t), alignof(char32_t));
  std::memcpy(at, wide.data(), wide.size() * sizeof(char32_t));
  return Label(std::u32string_view(reinterpret_cast<const char32_t*>(at), wide.size()));
}

Label TextArena::copy(Label label) {
  switch (label.form()) {
    case Label::Form::Narrow:
      return add(label.narrow());
    case Label::Form::Wide16: {
      char* at = allocate(label.size() * sizeof(char16_t), alignof(char16_t));
      if (!label.empty()) std::memcpy(at, label.data(), label.size() * sizeof(char16_t));
      return Label(at, label.size(), Label::Form::Wide16);
    }
    case Label::Form::Wide32:
      break;
  }
  return add(std::u32string_view(static_cast<const char32_t*>(label.data()), label.size()));
}

}  // namespace qv
