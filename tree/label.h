// Label: a read-only view of the characters of one node label, narrow (a byte a
// character, nearly always) or wide (only a numeric reference above 255 makes one),
// a wide one two bytes a character where its codes allow, else four.
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
  enum class Form : std::uint8_t { Narrow, Wide16, Wide32 };

  constexpr Label() = default;
  Label(std::string_view narrow) : data_(narrow.data()), bits_(narrow.size()) {}
  Label(const char* narrow) : Label(std::string_view(narrow)) {}
  Label(const std::string& narrow) : Label(std::string_view(narrow)) {}
  Label(std::u16string_view wide) : Label(wide.data(), wide.size(), Form::Wide16) {}
  Label(std::u32string_view wide) : Label(wide.data(), wide.size(), Form::Wide32) {}

  bool wide() const { return (bits_ & kWideBit) != 0; }
  Form form() const {
    return !wide() ? Form::Narrow : (bits_ & kHalfBit) != 0 ? Form::Wide16 : Form::Wide32;
  }
  std::size_t size() const { return wide() ? bits_ & kWideSize : bits_; }
  bool empty() const { return size() == 0; }

  // Precondition: !wide().
  std::string_view narrow() const { return {static_cast<const char*>(data_), size()}; }
  std::span<const unsigned char> bytes() const {
    return {static_cast<const unsigned char*>(data_), size()};
  }

  // Calls f with a span of code units (unsigned char, char16_t or char32_t) and
  // returns its result.
  template <class F>
  decltype(auto) visit(F&& f) const {
    switch (form()) {
      case Form::Wide16:
        return f(std::span<const char16_t>(static_cast<const char16_t*>(data_), size()));
      case Form::Wide32:
        return f(std::span<const char32_t>(static_cast<const char32_t*>(data_), size()));
      case Form::Narrow:
        break;
    }
    return f(bytes());
  }

  char32_t operator[](std::size_t i) const {
    return visit([i](auto chars) -> char32_t { return chars[i]; });
  }

  // Where the characters are: with form() and size(), all a label is. A wide size
  // is below 2^30 on 32-bit systems, far beyond what their memory holds at 2 bytes.
  const void* data() const { return data_; }
  Label(const void* data, std::size_t size, Form form)
      : data_(data),
        bits_(form == Form::Narrow ? size
                                   : size | kWideBit | (form == Form::Wide16 ? kHalfBit : 0)) {}

 private:
  static constexpr std::size_t kWideBit = std::size_t{1} << (sizeof(std::size_t) * 8 - 1);
  static constexpr std::size_t kHalfBit = kWideBit >> 1;
  static constexpr std::size_t kWideSize = kHalfBit - 1;
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
  // Two bytes a character when every code is below 2^16, else four.
  Label add(std::u32string_view wide);
  // A copy of label, narrow if it was, in the narrowest wide form if not.
  Label copy(Label label);
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
