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

// The workers for work several threads can share, given the CPUs the process may
// run on: one a CPU, or none (the calling thread alone) where there is only one.
inline unsigned workersFor(unsigned cpus) {
  return cpus > 1 ? cpus : 0;
}

}  // namespace qv
