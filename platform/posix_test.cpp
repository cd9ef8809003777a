#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/shared.h"

namespace qv::platform {
namespace {

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
}

std::atomic<int> interruptions{0};
extern "C" void countInterruption(int) {
  ++interruptions;
}

TEST(FdSink, WritesEverythingThroughShortWritesAndInterruptions) {
  // Signals without SA_RESTART cut a blocked write short, or fail it with EINTR
  // when nothing went through yet.
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = countInterruption;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string sent = pattern(4 << 20);
  std::atomic<bool> done{false};
  std::string failure;
  std::thread writer([&] {
    try {
      FdSink sink(ends[1], "pipe");
      sink.write(sent.data(), sent.size());
      sink.close();
    } catch (const Error& e) {
      failure = e.message();  // the sink closed the pipe on its way out
    }
    done = true;
  });
  std::thread interrupter([&, target = writer.native_handle()] {
    while (!done) {
      ::pthread_kill(target, SIGUSR1);
      std::this_thread::yield();
    }
  });
  std::string received;
  char piece[4093];
  for (ssize_t n; (n = ::read(ends[0], piece, sizeof piece)) > 0;) {
    received.append(piece, static_cast<std::size_t>(n));
  }
  interrupter.join();  // first: it signals the writer until the writer is done
  writer.join();
  ::close(ends[0]);
  ::sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(failure, "");
  EXPECT_GT(interruptions.load(), 0);
  EXPECT_TRUE(received == sent);
}

TEST(ReadWholeFile, ReadsAPipeUntilItsWriterCloses) {
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  const std::string sent = pattern(300000);  // several times the first guess of 64 KB
  // Room for all of it, so the writer never waits for a reader that stopped early.
  ASSERT_GE(::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20), 1 << 20);
  std::thread writer([&] {
    for (std::size_t at = 0; at < sent.size(); at += 1000) {
      if (::write(ends[1], sent.data() + at, std::min<std::size_t>(1000, sent.size() - at)) < 0) {
        break;
      }
    }
    ::close(ends[1]);
  });
  const std::string received(readWholeFile("/dev/fd/" + std::to_string(ends[0])).view());
  writer.join();
  ::close(ends[0]);
  EXPECT_TRUE(received == sent);
}

// A read that fails after the open is reported as a read: /proc/self/mem opens,
// and its first page, never mapped, cannot be read.
TEST(ReadWholeFile, FailedReadIsReportedAsReadFile) {
  if (::access("/proc/self/mem", R_OK) != 0) GTEST_SKIP() << "no /proc/self/mem here";
  try {
    readWholeFile("/proc/self/mem");
    ADD_FAILURE() << "read";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "/proc/self/mem: readFile: hardware fault (Input/output error)");
  }
}

}  // namespace
}  // namespace qv::platform
