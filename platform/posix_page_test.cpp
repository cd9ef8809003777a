#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/shared.h"
#include "tests/scratch_dir.h"

#ifdef __linux__
#include <linux/fs.h>
#endif

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using IoTest = qvtest::ScratchDirTest;

std::string pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 23);
  return text;
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

// What this process has open in dir under another name than page.html, named or
// not: the page being written. Its blocks are summed; its mode is the last one's.
struct NewFile {
  int count = 0;
  std::uint64_t blocks = 0;
  unsigned mode = 0;
};

NewFile newFileIn(const fs::path& dir) {
  NewFile found;
  for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const fs::path target = fs::read_symlink(e.path(), error);
    if (error || target.parent_path() != dir || target.filename() == "page.html") continue;
    struct stat st {};
    if (::stat(e.path().c_str(), &st) != 0) continue;
    ++found.count;
    found.blocks += static_cast<std::uint64_t>(st.st_blocks);
    found.mode = st.st_mode & 07777;
  }
  return found;
}

// The page file, its new file unnamed where the system has unnamed files or named
// from the start, as on a file system that takes none.
class PageFileTest : public IoTest, public testing::WithParamInterface<bool> {
 protected:
  PageFile open(const std::string& page, TextSize size) {
    return PageFile(page, size, posixPageSteps(GetParam()));
  }
};

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, PageFileTest, testing::Bool());

TEST_P(PageFileTest, ReplacesTheOldFileOnlyWhenCompleteAndCommitted) {
  const std::string page = pattern(100000);
  struct Case {
    std::string name;
    std::size_t bytes;  // written, against the page's size
    bool close, commit;
    std::string report;
  };
  const Case cases[] = {
      {"complete", page.size(), true, true, ""},
      {"short", page.size() - 1, true, true,
       "the page came to 99999 bytes where its size said 100000"},
      {"long", page.size() + 1, true, true,
       "the page came to 100001 bytes where its size said 100000"},
      {"abandoned", page.size(), false, false, ""},     // an exception on the way
      {"not committed", page.size(), true, false, ""},  // the standard output failed
  };
  for (const Case& c : cases) {
    write("page.html", "old");
    std::string report;
    try {
      PageFile file = open(path("page.html"), {page.size()});
      EXPECT_GE(newFileIn(dir_).blocks * 512, page.size()) << c.name;
      // Unnamed, the new file shows in the folder only once committed.
      EXPECT_EQ(listing(dir_).size(), GetParam() && unnamedFilesBuilt ? 1u : 2u) << c.name;
      file.write(page.data(), std::min(c.bytes, page.size()));
      if (c.bytes > page.size()) file.write("!", 1);
      if (c.close) file.close();
      if (c.commit) file.commit();
    } catch (const Error& e) {
      report = e.message();
    }
    EXPECT_EQ(report, c.report);
    EXPECT_TRUE(contents(path("page.html")) == (c.name == "complete" ? page : "old")) << c.name;
    EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"}) << c.name;
  }
}

// A page whose folder does not exist is refused at open, whichever kind of new
// file is tried first, and nothing is made.
TEST_P(PageFileTest, PageInAFolderThatDoesNotExistIsRefusedAtOpen) {
  std::string message;
  try {
    PageFile file = open(path("missing/page.html"), {3});
  } catch (const Error& e) {
    message = e.message();
  }
  EXPECT_EQ(message,
            path("missing/page.html") + ": openFile: does not exist (No such file or directory)");
  EXPECT_TRUE(listing(dir_).empty());
}

// A link on the process file system stands for a descriptor: the page goes through
// it into the file the descriptor has open, never over the link's text. A chain of
// links that never ends is refused at open.
TEST_P(PageFileTest, LinksToADescriptorAreWrittenThroughAndLoopsRefused) {
  if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc here: no descriptor links";
  const int target = ::open(path("target").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(target, 0);
  fs::create_symlink("/proc/self/fd/" + std::to_string(target), path("descriptor"));
  struct stat before {};
  ASSERT_EQ(::fstat(target, &before), 0);
  {
    PageFile file = open(path("descriptor"), {3});
    file.write("new", 3);
    file.close();
    file.commit();
  }
  ::close(target);
  EXPECT_EQ(contents(path("target")), "new");
  struct stat after {};
  ASSERT_EQ(::stat(path("target").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);  // written in place, not replaced
  EXPECT_TRUE(fs::is_symlink(path("descriptor")));
  fs::create_symlink("loop-b", path("loop-a"));
  fs::create_symlink("loop-a", path("loop-b"));
  std::string message;
  try {
    PageFile file = open(path("loop-a"), {3});
  } catch (const Error& e) {
    message = e.message();
  }
  EXPECT_EQ(message, path("loop-a") + ": openFile: failed (Too many levels of symbolic links)");
  EXPECT_EQ(listing(dir_).size(), 4u);  // target, descriptor and the two links
}

// An unnamed new file is named in the page's folder at the commit: where that
// folder has gone meanwhile, the commit fails with the report and nothing stays.
TEST_F(IoTest, UnnamedFileWhoseFolderWentAwayIsReportedAtTheCommit) {
  if (!unnamedFilesBuilt) GTEST_SKIP() << "a build without unnamed files";
  fs::create_directory(path("sub"));
  std::string message;
  try {
    PageFile file(path("sub/page.html"), {3});
    // A file system without unnamed files gives the new file a name at once.
    if (!listing(path("sub")).empty()) GTEST_SKIP() << "no unnamed files in " << dir_;
    file.write("new", 3);
    file.close();
    fs::rename(path("sub"), path("moved"));
    file.commit();
  } catch (const Error& e) {
    message = e.message();
  }
  EXPECT_EQ(message,
            path("sub/page.html") + ": writeFile: does not exist (No such file or directory)");
  EXPECT_TRUE(listing(path("moved")).empty());
}

// The commit comes after the last line of the standard output: a rename that
// fails there is still reported, and the new file does not stay behind.
TEST_P(PageFileTest, RenameThatFailsAtTheCommitIsReportedAndLeavesNoNewFile) {
  write("page.html", "old");
  std::string message;
  try {
    PageFile file = open(path("page.html"), {3});
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

// A new file with a name (where the file system takes no unnamed one) is removed
// by a stop signal, before the old page is touched.
TEST_F(IoTest, StopSignalRemovesTheNamedNewFile) {
  write("page.html", "old");
  const pid_t child = ::fork();
  if (child == 0) {
    PageFile file(path("page.html"), {1 << 20}, posixPageSteps(false));
    if (listing(dir_).size() != 2) ::_exit(3);  // the new file must show
    ::raise(SIGTERM);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_FALSE(WIFEXITED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"});
  EXPECT_EQ(contents(path("page.html")), "old");
}

// Replacing a private page, the new one is private as long as it is written.
TEST_P(PageFileTest, NewFileIsTheOwnersAloneUntilItTakesTheOldMode) {
  for (const unsigned oldMode : {0600u, 0640u, 0644u, 0604u}) {
    write("page.html", "old");
    ASSERT_EQ(::chmod(path("page.html").c_str(), oldMode), 0);
    {
      PageFile file = open(path("page.html"), {3});
      const NewFile made = newFileIn(dir_);
      ASSERT_EQ(made.count, 1) << oldMode;
      EXPECT_EQ(made.mode & 077, 0u) << std::oct << oldMode << " " << made.mode;
      file.write("new", 3);
      file.close();
      file.commit();
    }
    struct stat st {};
    ASSERT_EQ(::stat(path("page.html").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, oldMode);
    EXPECT_EQ(contents(path("page.html")), "new");
  }
}

#ifdef __linux__
// Where no new file can be made, root's neither (an immutable folder), the page is
// written over the old one, which keeps its file and is cut to the page's length.
TEST_P(PageFileTest, FolderThatTakesNoNewFileHasThePageWrittenOverTheOldOne) {
  write("page.html", "the old page, longer than the new");
  struct stat before {};
  ASSERT_EQ(::stat(path("page.html").c_str(), &before), 0);
  const int folder = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  int flags = 0;
  if (::ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0) {
    ::close(folder);
    GTEST_SKIP() << "no file attributes on " << dir_;
  }
  const int set = flags | FS_IMMUTABLE_FL;
  if (::ioctl(folder, FS_IOC_SETFLAGS, &set) != 0) {
    ::close(folder);
    GTEST_SKIP() << "cannot make " << dir_ << " immutable: " << std::strerror(errno);
  }
  std::string message;
  try {
    PageFile file = open(path("page.html"), {3});
    file.write("new", 3);
    file.close();
    file.commit();
  } catch (const Error& e) {
    message = e.message();
  }
  ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
  ::close(folder);
  EXPECT_EQ(message, "");
  EXPECT_EQ(contents(path("page.html")), "new");
  struct stat after {};
  ASSERT_EQ(::stat(path("page.html").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"});
}
#endif

// A page written over the old one (no new file can be made beside it) that stops
// before its first byte leaves the old page whole, its reservation given back;
// after some bytes it is cut where they end.
TEST_F(IoTest, InPlaceWriteThatStopsEarlyKeepsWhatItMust) {
  const std::string old = "the old page, 27 bytes long";
  struct Case {
    std::size_t bytes;  // written before the stop
    bool signal;        // SIGTERM, or a failure that destroys the page file
    std::string left;
  };
  const Case cases[] = {{0, true, old}, {0, false, old}, {5, true, "NEWPA"}, {5, false, "NEWPA"}};
  for (const Case& c : cases) {
    write("page.html", old);
    struct stat before {};
    ASSERT_EQ(::stat(path("page.html").c_str(), &before), 0);
    // Root makes files anywhere: the page is written as nobody, whose it is, in a
    // folder that is root's. Anyone else takes the folder's write permission away.
    const bool asNobody = ::geteuid() == 0;
    if (asNobody) {
      ASSERT_EQ(::chown(path("page.html").c_str(), 65534, 65534), 0);
      fs::permissions(dir_, fs::perms(0755));  // whatever the umask made it
    } else {
      fs::permissions(dir_, fs::perms(0555));
    }
    const pid_t child = ::fork();
    if (child == 0) {
      if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(126);
      try {
        PageFile file(path("page.html"), {1 << 20});
        if (newFileIn(dir_).count != 0) ::_exit(4);  // not written in place
        file.write("NEWPAGE", c.bytes);
        if (c.signal) ::raise(SIGTERM);
        throw Error::program("a worker failed");
      } catch (const Error&) {
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    fs::permissions(dir_, fs::perms(0755));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 126) GTEST_SKIP() << "cannot run as nobody";
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << "a new file was made";
    EXPECT_EQ(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM, c.signal) << c.bytes;
    EXPECT_EQ(contents(path("page.html")), c.left) << c.bytes << c.signal;
    struct stat after {};
    ASSERT_EQ(::stat(path("page.html").c_str(), &after), 0);
    EXPECT_LE(after.st_blocks, before.st_blocks) << c.bytes << c.signal;
    EXPECT_EQ(listing(dir_), std::vector<std::string>{"page.html"});
  }
}

}  // namespace
}  // namespace qv::platform
