#include "base/threads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace qv {
namespace {

// Thrown inside a worker when another thread has failed: the worker just stops.
struct Stopped {};

struct Chunk {
  std::unique_ptr<char[]> buffer;  // null: the piece is complete
  std::size_t size = 0;
  unsigned worker = 0;
};

// Starts up to `count` threads running work(i), as many as the system lets start:
// a thread that cannot (a process limit, no memory for its stack) leaves its work
// to those that did.
template <class Work>
void startThreads(std::vector<std::thread>& threads, unsigned count, Work work) {
  try {
    for (unsigned i = 0; i < count; ++i) threads.emplace_back(work, i);
  } catch (const std::system_error&) {
  }
}

class Pipeline {
 public:
  Pipeline(Sink& sink, unsigned workers, std::size_t bufferSize,
           const std::function<PieceJob()>& next)
      : sink_(sink),
        bufferSize_(bufferSize),
        share_(std::max<std::size_t>(2 * kBuffersPerWorker / workers, 1)),
        next_(next),
        free_(workers),
        owned_(workers, 0) {}

  // False when not one worker could start: nothing was done, and the caller does
  // the work alone. Fewer workers than asked for do it all the same.
  bool run(unsigned workers) {
    std::vector<std::thread> threads;
    startThreads(threads, workers, [this](unsigned w) { work(w); });
    if (threads.empty()) return false;
    try {
      writeInOrder();
    } catch (...) {
      fail(std::current_exception());
    }
    for (std::thread& t : threads) t.join();
    if (error_) std::rethrow_exception(error_);
    return true;
  }

 private:
  // The sink of one worker's Output: its bytes belong to the piece it writes.
  class PieceSink : public BufferSink {
   public:
    PieceSink(Pipeline& p, unsigned worker) : p_(p), worker_(worker) {}
    void startPiece(std::size_t index) { index_ = index; }
    void take(std::unique_ptr<char[]>& buffer, std::size_t size) override {
      p_.hand(index_, worker_, buffer, size);
    }

   private:
    Pipeline& p_;
    unsigned worker_;
    std::size_t index_ = 0;
  };

  void work(unsigned worker) {
    try {
      PieceSink sink(*this, worker);
      Output out(sink, bufferSize_);
      for (;;) {
        PieceJob job;
        std::size_t index;
        {
          std::unique_lock lock(mutex_);
          if (stop_ || exhausted_) return;
          job = next_();
          if (!job) {
            exhausted_ = true;
            changed_.notify_all();
            return;
          }
          index = given_++;
          pending_.emplace_back();
        }
        sink.startPiece(index);
        job(out);
        out.flush();
        std::unique_lock lock(mutex_);
        pending_[index - head_].push_back(Chunk{nullptr, 0, worker});
        changed_.notify_all();
      }
    } catch (const Stopped&) {
    } catch (...) {
      fail(std::current_exception());
    }
  }

  // Queues a worker's full buffer and gives it an empty one: one it had before, once
  // the writer is done with it, or a new one while it has fewer than its share.
  void hand(std::size_t index, unsigned worker, std::unique_ptr<char[]>& buffer, std::size_t size) {
    std::unique_lock lock(mutex_);
    if (stop_) throw Stopped{};
    pending_[index - head_].push_back(Chunk{std::move(buffer), size, worker});
    changed_.notify_all();
    if (free_[worker].empty() && owned_[worker] < share_) {
      ++owned_[worker];
      // Left uninitialised, as make_unique_for_overwrite would, which libc++ lacks
      // before version 16.
      buffer = std::unique_ptr<char[]>(new char[bufferSize_]);
      return;
    }
    changed_.wait(lock, [&] { return stop_ || !free_[worker].empty(); });
    if (stop_) throw Stopped{};
    buffer = std::move(free_[worker].back());
    free_[worker].pop_back();
  }

  void writeInOrder() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] {
        return stop_ || (!pending_.empty() && !pending_.front().empty()) ||
               (exhausted_ && head_ == given_);
      });
      if (stop_ || pending_.empty()) return;
      Chunk chunk = std::move(pending_.front().front());
      pending_.front().pop_front();
      if (!chunk.buffer) {
        pending_.pop_front();
        ++head_;
        continue;
      }
      lock.unlock();
      sink_.write(chunk.buffer.get(), chunk.size);
      lock.lock();
      free_[chunk.worker].push_back(std::move(chunk.buffer));
      changed_.notify_all();
    }
  }

  void fail(std::exception_ptr e) {
    std::unique_lock lock(mutex_);
    if (!error_) error_ = e;
    stop_ = true;
    changed_.notify_all();
  }

  Sink& sink_;
  const std::size_t bufferSize_;
  const std::size_t share_;  // buffers a worker may add to the one its Output has
  const std::function<PieceJob()>& next_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool exhausted_ = false;  // next() has no more pieces
  bool stop_ = false;       // a thread failed
  std::exception_ptr error_;
  std::size_t given_ = 0;                  // pieces handed to workers
  std::size_t head_ = 0;                   // the piece being written
  std::deque<std::deque<Chunk>> pending_;  // chunks of pieces head_ .. given_ - 1
  std::vector<std::vector<std::unique_ptr<char[]>>> free_;
  std::vector<std::size_t> owned_;
};

}  // namespace

void writePieces(Sink& sink, unsigned workers, std::size_t bufferSize,
                 const std::function<PieceJob()>& next) {
  if (workers == 0) {
    Output out(sink, bufferSize);
    while (const PieceJob job = next()) job(out);
    out.flush();
    return;
  }
  workers = std::min(workers, kMaxPieceWorkers);
  if (Pipeline(sink, workers, bufferSize, next).run(workers)) return;
  writePieces(sink, 0, bufferSize, next);
}

void forEachInParallel(std::size_t count, unsigned workers,
                       const std::function<void(std::size_t)>& task) {
  if (workers == 0) {
    for (std::size_t i = 0; i < count; ++i) task(i);
    return;
  }
  std::atomic<std::size_t> next{0};
  std::mutex mutex;
  std::exception_ptr error;
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < count;) {
      try {
        task(i);
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!error) error = std::current_exception();
        next = count;
      }
    }
  };
  std::vector<std::thread> threads;
  const auto others = static_cast<unsigned>(std::min<std::size_t>(workers, count) - (count > 0));
  startThreads(threads, others, [&](unsigned) { work(); });
  work();  // the calling thread is one of the workers
  for (std::thread& t : threads) t.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace qv
