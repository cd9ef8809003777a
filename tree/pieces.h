// Pieces of one output made by several threads at once and written in order.
//
// A large output (the page) is cut into pieces whose bytes do not depend on each
// other. Worker threads take the pieces in turn and write each into an Output of
// its own; the calling thread hands their bytes to the sink in the order of the
// pieces, one full buffer at a time, so making the bytes and the sink's writing
// overlap. Buffers pass between threads without copying, and each worker has only
// a few: memory does not grow with the output.
#pragma once

#include <functional>

#include "tree/output.h"

namespace qv {

// Writes one piece.
using PieceJob = std::function<void(Output&)>;

// Calls next() (under a lock, so it may keep state) for the job of each piece in
// order until it returns an empty job, runs the jobs on `workers` threads, and
// writes their bytes into sink in piece order. With 0 workers the calling thread
// runs the jobs itself. A failure in any job, or in the sink, stops every thread
// and is rethrown here.
void writePieces(Sink& sink, unsigned workers, const std::function<PieceJob()>& next);

// The number of threads this process may run at once (its CPU affinity), at least 1.
unsigned availableCpus();

}  // namespace qv
