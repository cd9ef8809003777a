// Micro-benchmarks of the hot stages, each on its own: the reader (input MB/s),
// the drawing and the page (output MB/s), numbering with layout (nodes/s), and the
// memory the page's writing holds at its peak with 2, 8 and 32 producers.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "bench/generate.h"
#include "diag/diag.h"
#include "tree/numbering.h"
#include "treemap/layout.h"
#include "treemap/page.h"
#include "xml/reader.h"

// The heap's bytes in use and their peak, counted only while `counting` is set: the
// replaced operator new and delete cost the other benchmarks nothing more than a
// test of that flag. Blocks freed while counting that were allocated before lower
// the count, so the peak is of what the measured code itself allocated.
namespace heap {
std::atomic<bool> counting{false};
std::atomic<std::int64_t> live{0};
std::atomic<std::int64_t> peak{0};

void add(void* p) {
  if (!counting.load(std::memory_order_relaxed)) return;
  const auto now = live.fetch_add(static_cast<std::int64_t>(malloc_usable_size(p))) +
                   static_cast<std::int64_t>(malloc_usable_size(p));
  for (auto high = peak.load(); now > high && !peak.compare_exchange_weak(high, now);) {
  }
}

void remove(void* p) {
  if (counting.load(std::memory_order_relaxed)) {
    live.fetch_sub(static_cast<std::int64_t>(malloc_usable_size(p)));
  }
}
}  // namespace heap

void* operator new(std::size_t n) {
  void* p = std::malloc(n == 0 ? 1 : n);
  if (p == nullptr) throw std::bad_alloc();
  heap::add(p);
  return p;
}
// GCC takes this free() for one of memory from new, which here is malloc's.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  heap::remove(p);
  std::free(p);
}
#pragma GCC diagnostic pop
void operator delete(void* p, std::size_t) noexcept {
  operator delete(p);
}

namespace {

// Counts bytes and drops them: measures producing output, not storing it.
struct NullSink : qv::Sink {
  std::size_t bytes = 0;
  void write(const char*, std::size_t n) override { bytes += n; }
};

const std::string& document(const std::string& shape) {
  static std::string catalog = qvbench::generateString("catalog", 20'000'000, 1);
  static std::string soup = qvbench::generateString("soup", 20'000'000, 7);
  static std::string wide = qvbench::generateString("wide", 8'000'000, 1);
  return shape == "catalog" ? catalog : shape == "soup" ? soup : wide;
}

void reader(benchmark::State& state, const std::string& shape) {
  const std::string& doc = document(shape);
  std::size_t nodes = 0;
  for (auto _ : state) {
    const qv::LabelTree tree = qv::nameTreeOf("doc.xml", doc);
    nodes = tree.size();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * doc.size()));
  state.counters["nodes"] = static_cast<double>(nodes);
}

void layout(benchmark::State& state, const std::string& shape) {
  const qv::LabelTree tree = qv::nameTreeOf("doc.xml", document(shape));
  for (auto _ : state) {
    const qv::BoxForest forest = qv::treeMapLBox(std::make_shared<const qv::LabelTree>(tree));
    benchmark::DoNotOptimize(forest.size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * tree.size()));
}

void page(benchmark::State& state, const std::string& shape) {
  const qv::LabelTree tree = qv::nameTreeOf("doc.xml", document(shape));
  const qv::TreeMapPage built =
      qv::treeMapExt(qv::defaultTreeOpts(), std::make_shared<const qv::LabelTree>(tree));
  NullSink sink;
  for (auto _ : state) built.write(sink, 0, 1 << 20);
  state.SetBytesProcessed(static_cast<std::int64_t>(sink.bytes));
}

// The page's size, measured box by box without writing (with a copy of the forest's
// layout): the cost of knowing the size before the first byte, to set against page().
void pageSize(benchmark::State& state, const std::string& shape) {
  const qv::BoxForest forest = qv::treeMapLBox(
      std::make_shared<const qv::LabelTree>(qv::nameTreeOf("doc.xml", document(shape))));
  std::uint64_t bytes = 0;
  for (auto _ : state) bytes = qv::TreeMapPage(qv::defaultTreeOpts(), forest).size().bytes;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Takes the bytes in as a file system would, copying them, so that the producers
// are not much faster than the one thread that writes.
struct CopyingSink : qv::Sink {
  std::unique_ptr<char[]> scratch = std::make_unique<char[]>(1 << 20);
  void write(const char* data, std::size_t n) override {
    for (std::size_t at = 0; at < n; at += 1 << 20) {
      std::memcpy(scratch.get(), data + at, std::min<std::size_t>(n - at, 1 << 20));
    }
    benchmark::DoNotOptimize(scratch.get());
  }
};

// The heap the page's writing holds at its peak, above what was in use before it,
// with as many producers as the argument says (1 MB buffers, as the program uses).
void pageMemory(benchmark::State& state) {
  const qv::TreeMapPage built = qv::treeMapExt(
      qv::defaultTreeOpts(),
      std::make_shared<const qv::LabelTree>(qv::nameTreeOf("doc.xml", document("catalog"))));
  const auto workers = static_cast<unsigned>(state.range(0));
  CopyingSink sink;
  std::int64_t peak = 0;
  for (auto _ : state) {
    heap::live = 0;
    heap::peak = 0;
    heap::counting = true;
    built.write(sink, workers, qv::Output::kDefaultCapacity);
    heap::counting = false;
    peak = std::max(peak, heap::peak.load());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * built.size().bytes));
  state.counters["peak_MB"] = static_cast<double>(peak) / (1 << 20);
}

void drawing(benchmark::State& state, const std::string& shape) {
  const qv::LabelTree tree = qv::nameTreeOf("doc.xml", document(shape));
  NullSink sink;
  for (auto _ : state) {
    qv::Output out(sink);
    qv::showTree(out, tree);
    out.flush();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(sink.bytes));
}

BENCHMARK_CAPTURE(reader, catalog, std::string("catalog"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(reader, soup, std::string("soup"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(layout, catalog, std::string("catalog"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(layout, wide, std::string("wide"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(page, catalog, std::string("catalog"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pageSize, catalog, std::string("catalog"))->Unit(benchmark::kMillisecond);
BENCHMARK(pageMemory)->Arg(2)->Arg(8)->Arg(32)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(drawing, catalog, std::string("catalog"))->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
