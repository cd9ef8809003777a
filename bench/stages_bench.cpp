// Micro-benchmarks of the hot stages, each on its own: the reader (input MB/s),
// the drawing and the page (output MB/s), numbering with layout (nodes/s).
#include <benchmark/benchmark.h>

#include "bench/generate.h"
#include "diag/diag.h"
#include "tree/numbering.h"
#include "treemap/layout.h"
#include "treemap/render.h"
#include "xml/reader.h"

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
  for (auto _ : state) bytes = qv::TreeMapPage(qv::defaultTreeOpts(), forest).size();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
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
BENCHMARK_CAPTURE(drawing, catalog, std::string("catalog"))->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
