// The whole pipeline in memory on arbitrary bytes: the page's size, known before
// writing, must be the bytes written, and one thread must write what three do.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/output.h"
#include "treemap/box.h"
#include "treemap/page.h"
#include "xml/reader.h"

namespace {

// Counts the bytes and line feeds and, when asked, hashes them (FNV-1a), in order.
class HashingSink : public qv::Sink {
 public:
  explicit HashingSink(bool hashing = true) : hashing_(hashing) {}
  void write(const char* data, std::size_t size) override {
    written += size;
    lineFeeds += static_cast<std::uint64_t>(std::count(data, data + size, '\n'));
    if (!hashing_) return;
    for (std::size_t i = 0; i < size; ++i) {
      hash = (hash ^ static_cast<unsigned char>(data[i])) * 0x100000001B3u;
    }
  }
  std::uint64_t written = 0;
  std::uint64_t lineFeeds = 0;
  std::uint64_t hash = 0xCBF29CE484222325u;

 private:
  bool hashing_;
};

constexpr std::uint64_t kThreadedShare = 16;

[[noreturn]] void fail(const char* what, std::uint64_t a, std::uint64_t b) {
  std::fprintf(stderr, "fuzz_page: %s: %llu against %llu\n", what,
               static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const qv::TreeMapPage page = qv::treeMapExt(
      qv::defaultTreeOpts(),
      std::make_shared<const qv::LabelTree>(qv::nameTreeOf("in.xml", std::move(text))));
  HashingSink input;
  input.write(reinterpret_cast<const char*>(data), size);
  // The page of a deep input is quadratic in its depth: hashed only to be compared.
  const bool threaded = input.hash % kThreadedShare == 0;
  HashingSink one(threaded), three;
  page.write(one, 0, 1 << 16);
  const qv::TextSize pageSize = page.size();
  if (one.written != pageSize.bytes) fail("bytes written, size pass", one.written, pageSize.bytes);
  if (one.lineFeeds != pageSize.lineFeeds)
    fail("line feeds written, size pass", one.lineFeeds, pageSize.lineFeeds);
  if (!threaded) return 0;
  // Buffers of 256 bytes and pieces of a kilobyte cut the page at many places; a
  // large page (a deep input's) in at most a few hundred buffers, each of which
  // passes between threads.
  page.write(three, 3, std::max<std::size_t>(256, pageSize.bytes / 256));
  if (three.written != one.written)
    fail("bytes from three threads, one", three.written, one.written);
  if (three.hash != one.hash) fail("hash from three threads, one", three.hash, one.hash);
  return 0;
}
