// Label: a read-only view of the characters of one node label, narrow (a byte a
// character, nearly always) or wide (only a numeric reference above 255 makes one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

class Label {
 public:
  constexpr Label() = default;
  Label(std::string_view narrow) : data_(narrow.data()), bits_(narrow.size()) {}
  Label(const char* narrow) : Label(std::string_view(narrow)) {}
  Label(const std::string& narrow) : Label(std::string_view(narrow)) {}
  Label(std::u32string_view wide) : data_(wide.data()), bits_(wide.size() | kWideBit) {}

  bool wide() const { return (bits_ & kWideBit) != 0; }
  std::size_t size() const { return bits_ & ~kWideBit; }
  bool empty() const { return size() == 0; }

  // Precondition: !wide().
  std::string_view narrow() const { return {static_cast<const char*>(data_), size()}; }
  std::span<const unsigned char> bytes() const {
    return {static_cast<const unsigned char*>(data_), size()};
  }
  // Precondition: wide().
  std::span<const char32_t> codes() const { return {static_cast<const char32_t*>(data_), size()}; }

  char32_t operator[](std::size_t i) const { return wide() ? codes()[i] : bytes()[i]; }

  // Calls f with a span of code units (unsigned char or char32_t) and returns its result.
  template <class F>
  decltype(auto) visit(F&& f) const {
    return wide() ? f(codes()) : f(bytes());
  }

  // Where the characters are: with wide() and size(), all a label is.
  const void* data() const { return data_; }
  Label(const void* data, std::size_t size, bool wide)
      : data_(data), bits_(size | (wide ? kWideBit : 0)) {}

 private:
  static constexpr std::size_t kWideBit = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);
  const void* data_ = "";
  std::size_t bits_ = 0;
};

// The characters of a label as one std::u32string.
std::u32string toU32(Label label);

// Owns the characters of labels that are not slices of the input. Blocks never
// move, so labels handed out stay valid for the arena's life.
class TextArena {
 public:
  Label add(std::string_view narrow);
  Label add(std::u32string_view wide);
  // A copy of label in the same form (narrow or wide).
  Label copy(Label label) {
    return label.wide() ? add(std::u32string_view(label.codes().data(), label.size()))
                        : add(label.narrow());
  }
  // Reserves n bytes at the end of the current block and returns where to write them.
  char* allocate(std::size_t n, std::size_t align = 1);

 private:
  // Blocks grow from small to large: most arenas hold a few labels, the arena of a
  // large document holds hundreds of megabytes, in blocks large enough to be backed
  // by huge pages (each 4 KB page touched for the first time costs a fault).
  static constexpr std::size_t kFirstBlockSize = std::size_t{1} << 12;
  static constexpr std::size_t kMaxBlockSize = std::size_t{16} << 20;
  struct Block {
    char* data;
    std::size_t size;
    Block(std::size_t n);
    Block(Block&& other) noexcept : data(std::exchange(other.data, nullptr)), size(other.size) {}
    Block& operator=(Block&&) = delete;
    ~Block();
  };
  std::size_t nextBlockSize_ = kFirstBlockSize;
  std::vector<Block> blocks_;
  char* next_ = nullptr;
  std::size_t left_ = 0;
};

}  // namespace qv
