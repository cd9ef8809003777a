// Feeds arbitrary bytes through both paths of the reader and the drawing, and
// checks what must hold for every input: the two paths give the same tree, and
// the scan does work in proportion to the input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "diag/diag.h"
#include "tree/output.h"
#include "xml/reader.h"

namespace {

class DiscardSink : public qv::Sink {
 public:
  void write(const char* /*data*/, std::size_t size) override { written += size; }
  std::size_t written = 0;
};

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_reader: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const qv::NameTree tree = qv::nameTreeOf("in.xml", text);

  // Quadratic behaviour shows as work far beyond the input's size.
  if (qv::readerWork(text) > 10 * static_cast<std::uint64_t>(size) + 64) {
    fail("the scan did more than linear work");
  }

  DiscardSink sink;
  qv::Output out(sink, 1 << 12);
  qv::showTree(out, tree);
  out.flush();
  if (sink.written == 0) fail("the drawing wrote nothing");
  return 0;
}
