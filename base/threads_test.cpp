#include "base/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "base/error.h"
#include "tests/string_sink.h"

namespace qv {
namespace {

// Piece i is i + 1 copies of the letter 'a' + i % 26; a piece can fail to be made.
std::function<PieceJob()> pieces(int count, int failing = -1) {
  auto next = std::make_shared<int>(0);
  return [=]() -> PieceJob {
    const int i = (*next)++;
    if (i == count) return {};
    return [i, failing](Output& out) {
      if (i == failing) throw Error::program("piece " + std::to_string(i));
      out.fill(static_cast<char>('a' + i % 26), static_cast<std::size_t>(i + 1));
    };
  };
}

std::string expected(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text.append(i + 1, static_cast<char>('a' + i % 26));
  return text;
}

// Fails once it has taken more than `limit` bytes.
struct FailingSink : Sink {
  explicit FailingSink(std::size_t limit) : limit(limit) {}
  void write(const char*, std::size_t size) override {
    taken += size;
    if (taken > limit) throw Error::io("<x>", "writeFile", ENOSPC);
  }
  std::size_t limit, taken = 0;
};

TEST(Threads, PiecesComeOutInOrderFromAnyNumberOfWorkers) {
  for (unsigned workers : {0u, 1u, 2u, 5u}) {
    for (std::size_t buffer : {7u, 4096u}) {
      qvtest::StringSink sink;
      writePieces(sink, workers, buffer, pieces(300));
      EXPECT_EQ(sink.text, expected(300)) << workers << " workers, buffers of " << buffer;
    }
  }
}

TEST(Threads, AFailureInAPieceOrTheSinkStopsEveryThreadAndIsRethrown) {
  for (unsigned workers : {0u, 1u, 3u}) {
    qvtest::StringSink sink;
    EXPECT_THROW(writePieces(sink, workers, 7, pieces(300, 150)), Error) << workers;
    FailingSink failing(1000);
    EXPECT_THROW(writePieces(failing, workers, 7, pieces(300)), Error) << workers;
  }
}

TEST(Threads, EveryTaskRunsOnceAndTheFirstFailureIsRethrown) {
  for (unsigned workers : {0u, 1u, 4u}) {
    std::vector<std::atomic<int>> runs(1000);
    forEachInParallel(runs.size(), workers, [&](std::size_t i) { ++runs[i]; });
    int once = 0;
    for (const auto& r : runs) once += r == 1;
    EXPECT_EQ(once, 1000) << workers;
    EXPECT_THROW(forEachInParallel(1000, workers,
                                   [](std::size_t i) {
                                     if (i == 500) throw Error::program("task");
                                   }),
                 Error);
  }
}

}  // namespace
}  // namespace qv
