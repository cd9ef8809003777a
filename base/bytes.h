// Bytes: a document's bytes in one block of the C heap, made without being zeroed
// first and resized by realloc, which moves a large block's pages without copying
// them and gives back what a shrink leaves (glibc's and most others).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

namespace qv {

class Bytes {
 public:
  Bytes() = default;
  // A block even for no bytes: data() is never null once a Bytes holds text.
  explicit Bytes(std::string_view text) {
    reserve(text.size() + 1);
    resize(text.size());
    if (!text.empty()) std::memcpy(data_, text.data(), text.size());
  }
  Bytes(Bytes&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  Bytes& operator=(Bytes other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~Bytes() { std::free(data_); }

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  std::string_view view() const { return {data_, size_}; }

  // Room for n bytes in all (never less than the size); throws std::bad_alloc.
  void reserve(std::size_t n) {
    n = std::max(n, size_);
    if (n == capacity_) return;
    if (n > static_cast<std::size_t>(PTRDIFF_MAX)) throw std::bad_alloc();
    void* moved = std::realloc(data_, n == 0 ? 1 : n);
    if (moved == nullptr) throw std::bad_alloc();
    data_ = static_cast<char*>(moved);
    capacity_ = n;
  }
  void shrinkToFit() { reserve(size_); }
  // Bytes past the old size are whatever the block held: the caller writes them.
  void resize(std::size_t n) {
    if (n > capacity_) reserve(n);
    size_ = n;
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace qv
