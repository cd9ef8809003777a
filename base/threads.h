// Work on several threads: independent tasks, and the pieces of one output made
// at once and written in order, in a few buffers each, so memory does not grow with
// the output.
#pragma once

#include <cstddef>
#include <functional>

#include "base/output.h"

namespace qv {

// Writes one piece.
using PieceJob = std::function<void(Output&)>;

inline constexpr std::size_t kBuffersPerWorker = 8;
// One thread hands the pieces to the sink: more producers than this cannot make the
// output faster, they only hold more buffers.
inline constexpr unsigned kMaxPieceWorkers = 4;

// Calls next() (under a lock, so it may keep state) for the job of each piece in
// order until it returns an empty job, runs the jobs on `workers` threads, and
// writes their bytes into sink in piece order, in buffers of bufferSize bytes. At
// most kMaxPieceWorkers threads run, and they share 2 * kBuffersPerWorker buffers
// besides the one each fills, so memory does not grow with the number of CPUs: a
// worker may hold its share of full buffers that wait for the pieces before
// theirs (kBuffersPerWorker with two workers). With 0 workers the calling thread
// runs the jobs itself. A failure in any job, or in the sink, stops every thread
// and is rethrown here.
void writePieces(Sink& sink, unsigned workers, std::size_t bufferSize,
                 const std::function<PieceJob()>& next);

// Runs task(i) for every i below count on `workers` threads, or on the calling
// thread when workers is 0. The first failure stops the tasks not yet begun and is
// rethrown here once every thread has finished.
void forEachInParallel(std::size_t count, unsigned workers,
                       const std::function<void(std::size_t)>& task);

// How many threads each stage of a run takes besides the calling one (0: that
// thread alone), decided once for the run.
struct Workers {
  unsigned layout = 0;   // the layout and the size pass, over disjoint subtrees
  unsigned page = 0;     // the page's pieces
  bool overlap = false;  // the page laid out and measured while the tree is drawn
};

// One worker a CPU where there are several; the thresholds of the tree's size are
// all here.
inline Workers workersFor(unsigned cpus, std::size_t nodes) {
  // A thread costs a smaller tree more memory than the overlap saves time.
  constexpr std::size_t kOverlapNodes = std::size_t{1} << 16;
  // Every page worker holds megabytes of buffers, which only a large tree does not
  // notice: memory grows with the document, not with its page (a small deep
  // document can ask for a page of gigabytes).
  constexpr std::size_t kParallelPageNodes = std::size_t{1} << 20;
  const unsigned each = cpus > 1 ? cpus : 0;
  return {each, nodes >= kParallelPageNodes ? each : 0, nodes >= kOverlapNodes};
}

// Handing out a unit of fewer nodes than this costs more than working on it.
inline constexpr std::size_t kMinUnitNodes = 4096;

}  // namespace qv
