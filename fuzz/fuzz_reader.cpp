// The reader and the drawing on arbitrary bytes: balanced events, slices inside
// the document, one node per element, reference and non-blank text, linear work.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/output.h"
#include "diag/diag.h"
#include "xml/reader.h"
#include "xml/scanner.h"

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

// Checks the events as they come, and counts the nodes they make.
class CheckedEvents {
 public:
  explicit CheckedEvents(const std::string& document) : document_(document) {}

  void startElement(const qv::StartTag& t) {
    ++nodes;
    if (t.hasContent) ++open_;
  }
  void endElement() {
    if (open_ == 0) fail("an element ended that was not started with content");
    --open_;
  }
  void text(qv::CDataKind /*kind*/, qv::Label data, bool stableSlice) {
    if (stableSlice) {
      if (data.wide()) fail("a slice of the document is wide");
      inside(data.narrow());
    }
    if (!qv::isBlankText(data)) ++nodes;
  }
  void reference(std::string_view name) {
    inside(name);
    ++nodes;
  }
  void examined(std::uint64_t units) { work += units; }
  void finish() const {
    if (open_ != 0) fail("elements were left open at the end");
  }

  std::size_t nodes = 0;
  std::uint64_t work = 0;  // units of the scan's work

 private:
  void inside(std::string_view slice) const {
    const auto at = reinterpret_cast<std::uintptr_t>(slice.data());
    const auto begin = reinterpret_cast<std::uintptr_t>(document_.data());
    if (at < begin || at + slice.size() > begin + document_.size()) {
      fail("a slice of the document lies outside it");
    }
  }

  const std::string& document_;
  std::size_t open_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::string document = text;
  CheckedEvents events(document);
  qv::parseXML(document, events);
  events.finish();
  // Quadratic behaviour shows as work far beyond the input's size.
  if (events.work > 10 * static_cast<std::uint64_t>(size) + 64)
    fail("the scan did more than linear work");

  const qv::LabelTree tree = qv::nameTreeOf("in.xml", text);
  if (tree.size() != 1 + events.nodes) fail("the tree does not hold one node per item");

  DiscardSink sink;
  qv::Output out(sink, 1 << 12);
  qv::showTree(out, tree);
  out.flush();
  if (sink.written == 0) fail("the drawing wrote nothing");
  return 0;
}
