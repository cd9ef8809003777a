// Feeds arbitrary bytes through the whole pipeline in memory (name tree,
// numbering, layout, page) and checks that the page's size, computed before
// writing, is exactly the number of bytes the page writer then writes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tree/output.h"
#include "treemap/box.h"
#include "treemap/render.h"
#include "xml/reader.h"

namespace {

class CountingSink : public qv::Sink {
 public:
  void write(const char* /*data*/, std::size_t size) override { written += size; }
  std::uint64_t written = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  const qv::TreeMapPage page = qv::treeMapExt(
      qv::defaultTreeOpts(),
      std::make_shared<const qv::NameTree>(qv::nameTreeOf("in.xml", std::move(text))));
  // Pieces of a few hundred bytes, produced by three threads, cut the page at many
  // places; the bytes must come out the same as from one thread.
  CountingSink sink;
  page.write(sink, 3, 300);
  if (sink.written != page.size()) {
    std::fprintf(stderr, "fuzz_page: size pass %llu, page %llu bytes\n",
                 static_cast<unsigned long long>(page.size()),
                 static_cast<unsigned long long>(sink.written));
    std::abort();
  }
  return 0;
}
