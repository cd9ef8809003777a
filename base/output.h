// Output: the buffered writer every producer of bytes writes through, handing
// large blocks to a Sink; a Sink reports a failure by throwing Error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

// The size of a text: its bytes, and how many of them are line feeds, which the
// system's file may take more bytes to end a line with.
struct TextSize {
  std::uint64_t bytes = 0;
  std::uint64_t lineFeeds = 0;
  friend bool operator==(const TextSize&, const TextSize&) = default;
};

// Where an Output's full buffers go.
class BufferSink {
 public:
  virtual ~BufferSink() = default;
  // Takes the first size bytes of an Output's full buffer. A sink that hands the
  // bytes on to another thread swaps in an empty buffer of the same capacity instead
  // of copying them.
  virtual void take(std::unique_ptr<char[]>& buffer, std::size_t size) = 0;
  virtual void close() {}
};

// A sink that writes the bytes it takes: a file, a pipe, a test's string.
class Sink : public BufferSink {
 public:
  virtual void write(const char* data, std::size_t size) = 0;
  void take(std::unique_ptr<char[]>& buffer, std::size_t size) override {
    write(buffer.get(), size);
  }
};

class Output {
 public:
  static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

  explicit Output(BufferSink& sink, std::size_t capacity = kDefaultCapacity)
      : sink_(sink), buffer_(new char[capacity]), capacity_(capacity) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  // Does not flush: a failed run must not write more after its report.
  ~Output() = default;

  void put(char c) {
    if (used_ == capacity_) flush();
    buffer_[used_++] = c;
  }
  void write(std::string_view s) {
    const std::size_t n = s.size();
    if (n > capacity_ - used_) {
      writeSlow(s);
      return;
    }
    char* to = buffer_.get() + used_;
    const char* from = s.data();
    used_ += n;
    // Most pieces are a few bytes (tag names, attributes, short labels): copies of
    // fixed size, overlapping, stay inline where a call to memcpy would dominate.
    if (n >= 8 && n <= 16) {
      std::memcpy(to, from, 8);
      std::memcpy(to + n - 8, from + n - 8, 8);
    } else if (n >= 4 && n < 8) {
      std::memcpy(to, from, 4);
      std::memcpy(to + n - 4, from + n - 4, 4);
    } else if (n < 4) {
      // An empty view may carry a null pointer, which memcpy must never see.
      for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
    } else {
      std::memcpy(to, from, n);
    }
  }
  // Writes c n times.
  void fill(char c, std::size_t n) {
    if (n <= capacity_ - used_) {
      std::memset(buffer_.get() + used_, c, n);
      used_ += n;
    } else {
      fillSlow(c, n);
    }
  }
  // Room for exactly n bytes at the end of the buffer, for the caller to fill at
  // once; null when n is larger than the whole buffer.
  char* claim(std::size_t n) {
    char* at = room(n);
    if (at != nullptr) used_ += n;
    return at;
  }
  // Room for up to n bytes at the end of the buffer, for a caller that knows only a
  // bound of what it writes: it writes there, then commits where it ended. Null when
  // n is larger than the whole buffer.
  char* room(std::size_t n) {
    if (n > capacity_ - used_) {
      if (n > capacity_) return nullptr;
      flush();
    }
    return buffer_.get() + used_;
  }
  void commit(const char* end) { used_ = static_cast<std::size_t>(end - buffer_.get()); }
  // Hands everything buffered to the sink.
  void flush();
  // Flushes, then closes the sink.
  void close() {
    flush();
    sink_.close();
  }

 private:
  void writeSlow(std::string_view s);
  void fillSlow(char c, std::size_t n);
  BufferSink& sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_;
  std::size_t used_ = 0;
};

// Writes into room an Output gave (Output::room), without a check: what goes there
// must fit.
struct Room {
  char* p;
  void put(char c) { *p++ = c; }
  void write(std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    p += s.size();
  }
};

// Counts what a producer would write instead of writing it: the producers of the
// page are templates over their output, so running them over a ByteCount measures
// the page by the very rules that write it.
class ByteCount {
 public:
  void put(char c) {
    ++size_.bytes;
    size_.lineFeeds += c == '\n';
  }
  void write(std::string_view s) {
    size_.bytes += s.size();
    // Counted into a local: a char may alias the counter, which would be stored
    // back after every byte.
    std::uint64_t lineFeeds = 0;
    for (const char c : s) lineFeeds += c == '\n';
    size_.lineFeeds += lineFeeds;
  }
  void fill(char c, std::size_t n) {
    size_.bytes += n;
    size_.lineFeeds += c == '\n' ? n : 0;
  }
  // Adds a text measured elsewhere.
  void add(TextSize n) {
    size_.bytes += n.bytes;
    size_.lineFeeds += n.lineFeeds;
  }
  // Adds n bytes that hold no line feed.
  void add(std::uint64_t n) { size_.bytes += n; }
  // Nothing to fill in: producers take their byte-at-a-time path.
  char* claim(std::size_t) { return nullptr; }
  TextSize size() const { return size_; }

 private:
  TextSize size_;
};

// Appends to a string: for small pieces that are made once and copied often.
class StringOutput {
 public:
  explicit StringOutput(std::string& text) : text_(text) {}
  void put(char c) { text_ += c; }
  void write(std::string_view s) { text_ += s; }
  void fill(char c, std::size_t n) { text_.append(n, c); }
  char* claim(std::size_t) { return nullptr; }

 private:
  std::string& text_;
};

}  // namespace qv
