// Feeds arbitrary bytes through the whole pipeline in memory (name tree, layout,
// the page's size and the page) and checks on every input that the size, known
// before writing, is exactly the number of bytes written, and that the page comes
// out the same from one thread as from three writing small pieces at once.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/output.h"
#include "treemap/box.h"
#include "treemap/render.h"
#include "xml/reader.h"

namespace {

// Counts the bytes and hashes them (FNV-1a), in order.
class HashingSink : public qv::Sink {
 public:
  void write(const char* data, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) {
      hash = (hash ^ static_cast<unsigned char>(data[i])) * 0x100000001B3u;
    }
    written += size;
  }
  std::uint64_t written = 0;
  std::uint64_t hash = 0xCBF29CE484222325u;
};

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
  HashingSink one, three;
  page.write(one, 0, 1 << 16);
  // Buffers of 256 bytes and pieces of a kilobyte cut the page at many places.
  page.write(three, 3, 256);
  if (one.written != page.size()) fail("bytes written, size pass", one.written, page.size());
  if (three.written != one.written)
    fail("bytes from three threads, one", three.written, one.written);
  if (three.hash != one.hash) fail("hash from three threads, one", three.hash, one.hash);
  return 0;
}
