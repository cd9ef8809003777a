#include "app/io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/error.h"
#include "tests/scratch_dir.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using IoTest = qvtest::ScratchDirTest;

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
  const std::string received = readWholeFile("/dev/fd/" + std::to_string(ends[0]));
  writer.join();
  ::close(ends[0]);
  EXPECT_TRUE(received == sent);
}

std::vector<std::string> listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  return names;
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The blocks of the file this process has open in dir under another name than
// page.html, named or not: the page being written.
std::uint64_t newFileBlocks(const fs::path& dir) {
  std::uint64_t blocks = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const fs::path target = fs::read_symlink(e.path(), error);
    if (error || target.parent_path() != dir || target.filename() == "page.html") continue;
    struct stat st {};
    if (::stat(e.path().c_str(), &st) == 0) blocks += static_cast<std::uint64_t>(st.st_blocks);
  }
  return blocks;
}

class PageFileTest : public IoTest, public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    IoTest::SetUp();
    PageFile::tryUnnamed = GetParam();
  }
  void TearDown() override {
    PageFile::tryUnnamed = true;
    IoTest::TearDown();
  }
};

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, PageFileTest, testing::Bool());

TEST_P(PageFileTest, ReplacesTheOldFileOnlyWhenCompleteAndCommitted) {
  const std::string page = pattern(100000);
  struct Case {
    std::string name;
    std::size_t bytes;  // written, against the page's size
    bool close, commit;
  };
  const Case cases[] = {
      {"complete", page.size(), true, true},
      {"short", page.size() - 1, true, true},
      {"long", page.size() + 1, true, true},
      {"abandoned", page.size(), false, false},     // an exception on the way
      {"not committed", page.size(), true, false},  // the standard output failed
  };
  for (const Case& c : cases) {
    write("page.html", "old");
    try {
      PageFile file(path("page.html"), page.size());
      EXPECT_GE(newFileBlocks(dir_) * 512, page.size()) << c.name;
      // Unnamed, the new file shows in the folder only once committed.
      EXPECT_EQ(listing(dir_).size(), GetParam() && platform::PageFile::unnamedFiles ? 1u : 2u)
          << c.name;
      file.write(page.data(), std::min(c.bytes, page.size()));
      if (c.bytes > page.size()) file.write("!", 1);
      if (c.close) file.close();
      if (c.commit) file.commit();
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), Error::Kind::Program) << c.name;
    }
    EXPECT_TRUE(contents(path("page.html")) == (c.name == "complete" ? page : "old")) << c.name;
    EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"}) << c.name;
  }
}

// The commit comes after the last line of the standard output: a rename that
// fails there is still reported, and the new file does not stay behind.
TEST_P(PageFileTest, RenameThatFailsAtTheCommitIsReportedAndLeavesNoNewFile) {
  write("page.html", "old");
  std::string message;
  try {
    PageFile file(path("page.html"), 3);
    file.write("new", 3);
    file.close();
    // Meanwhile the page's name has become a folder that is not empty.
    fs::remove(path("page.html"));
    fs::create_directory(path("page.html"));
    write("page.html/kept", "x");
    file.commit();
  } catch (const Error& e) {
    message = e.message();
  }
  EXPECT_EQ(message, path("page.html") + ": writeFile: inappropriate type (Is a directory)");
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"});
  EXPECT_EQ(contents(path("page.html/kept")), "x");
}

TEST_P(PageFileTest, StopSignalLeavesNoNewFile) {
  write("page.html", "old");
  const pid_t child = ::fork();
  if (child == 0) {
    PageFile file(path("page.html"), 1 << 20);
    ::raise(SIGTERM);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"});
  EXPECT_EQ(contents(path("page.html")), "old");
}

}  // namespace
}  // namespace qv
