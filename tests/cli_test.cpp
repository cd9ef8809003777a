// Runs the built quiltview as a user would and checks exit status, standard
// output, standard error and the files it leaves, where the golden examples of
// tests/golden cannot: another program name, a limited stack, a full disk, links,
// FIFOs, permissions and closed or full standard streams.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/scratch_dir.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

struct RunOptions {
  std::string argv0 = QUILTVIEW_BINARY;
  std::string cwd;
  std::string stdoutPath;               // when set, standard output goes to this file instead
  rlim_t stackLimit = 0;                // bytes; 0 keeps the inherited limit
  int stdoutFd = -1;                    // when set, standard output is this descriptor
  bool unprivileged = false;            // run as nobody when root, so permission bits count
  int umask = -1;                       // -1 keeps the inherited mask
  std::optional<rlim_t> fileSizeLimit;  // bytes; none keeps the inherited limit
  bool withoutProc = false;            // in a mount namespace of its own where /proc is not mounted
  std::optional<rlim_t> processLimit;  // processes and threads of the user (ulimit -u)
  std::optional<rlim_t> addressLimit;  // bytes of address space (ulimit -v)
};

// The names in a folder, sorted: a run must leave no file of its own behind.
std::vector<std::string> listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

struct stat statOf(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The binary as another user may run it: the build's own may sit under a folder
// only its owner can enter (a checkout in /root), so it is copied once into a
// folder of mode 0755 of its own, removed when the tests end.
const std::string& binaryForAnyone() {
  struct Copy {
    fs::path dir = fs::temp_directory_path() / ("qv-bin-" + std::to_string(::getpid()));
    std::string binary = (dir / "quiltview").string();
    Copy() {
      fs::create_directories(dir);
      fs::permissions(dir, fs::perms(0755));
      fs::copy_file(QUILTVIEW_BINARY, binary, fs::copy_options::overwrite_existing);
      fs::permissions(binary, fs::perms(0755));
    }
    ~Copy() { fs::remove_all(dir); }
  };
  static const Copy copy;
  return copy.binary;
}

// A run started and not yet waited for.
struct Running {
  pid_t pid = -1;
  fs::path tmp;
  std::string outFile, errFile;
  int errPipe = -1;  // the standard error's reading end, when it is no file
  bool readOut = false;
};

Running start(const std::vector<std::string>& args, const RunOptions& o = {}) {
  Running run;
  run.tmp = fs::temp_directory_path() / ("qv-cli-" + std::to_string(::getpid()));
  fs::create_directories(run.tmp);
  run.outFile = o.stdoutPath.empty() ? (run.tmp / "stdout").string() : o.stdoutPath;
  run.errFile = (run.tmp / "stderr").string();
  // A file-size limit holds for every file the run writes, its standard error too.
  int errEnds[2] = {-1, -1};
  if (o.fileSizeLimit && ::pipe2(errEnds, O_CLOEXEC) == 0) run.errPipe = errEnds[0];
  run.readOut = o.stdoutPath.empty() && o.stdoutFd < 0;
  const bool asNobody = o.unprivileged && ::geteuid() == 0;
  const std::string binary = asNobody ? binaryForAnyone() : QUILTVIEW_BINARY;
  run.pid = ::fork();
  if (run.pid == 0) {
    const int out = o.stdoutFd >= 0
                        ? o.stdoutFd
                        : ::open(run.outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = errEnds[1] >= 0
                        ? errEnds[1]
                        : ::open(run.errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(126);
    if (o.umask >= 0) ::umask(static_cast<mode_t>(o.umask));
    // In a mount namespace of its own, /proc is covered by the root folder, so it
    // is a folder of the root file system, as in a chroot or a small container.
    // Made private first, the covered /proc takes the mount to no other namespace;
    // "/" itself need not be a mount point (a chroot's is not).
    if (o.withoutProc && (::unshare(CLONE_NEWNS) != 0 ||
                          ::mount(nullptr, "/proc", nullptr, MS_PRIVATE, nullptr) != 0 ||
                          ::mount("/", "/proc", nullptr, MS_BIND, nullptr) != 0)) {
      ::_exit(126);
    }
    if (asNobody &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(126);
    }
    if (o.stackLimit != 0) {
      const rlimit limit{o.stackLimit, o.stackLimit};
      if (::setrlimit(RLIMIT_STACK, &limit) != 0) ::_exit(126);
    }
    if (o.fileSizeLimit) {
      const rlimit limit{*o.fileSizeLimit, *o.fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
    }
    if (o.addressLimit) {
      const rlimit limit{*o.addressLimit, *o.addressLimit};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
    }
    if (o.processLimit) {
      const rlimit limit{*o.processLimit, *o.processLimit};
      if (::setrlimit(RLIMIT_NPROC, &limit) != 0) ::_exit(126);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(o.argv0.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  if (errEnds[1] >= 0) ::close(errEnds[1]);
  return run;
}

Outcome finish(const Running& run) {
  int wstatus = 0;
  ::waitpid(run.pid, &wstatus, 0);
  Outcome r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  if (run.readOut) r.out = readFile(run.outFile);
  if (run.errPipe >= 0) {
    char piece[4096];
    for (ssize_t n; (n = ::read(run.errPipe, piece, sizeof piece)) > 0;) {
      r.err.append(piece, static_cast<std::size_t>(n));
    }
    ::close(run.errPipe);
  } else {
    r.err = readFile(run.errFile);
  }
  fs::remove_all(run.tmp);
  return r;
}

Outcome quiltview(const std::vector<std::string>& args, const RunOptions& o = {}) {
  return finish(start(args, o));
}

const std::string kUsage =
    "Usage: quiltview [OPTION...] <input file.xml>\n"
    "  -v          --verbose       verbose output on stderr\n"
    "  -n Integer  --name=Integer  maximum size of filename. than truncation.\n"
    "  -o FILE     --output=FILE   output FILE\n";

class Cli : public qvtest::ScratchDirTest {
 protected:
  RunOptions here() const {
    RunOptions o;
    o.cwd = dir_.string();
    return o;
  }
};

TEST_F(Cli, ProgramNameIsTakenFromTheCommandAsInvoked) {
  const std::pair<std::string, std::string> cases[] = {
      {"/quiltview", "/quiltview"},
      {"C:\\tools\\quiltview.exe", "quiltview.exe"},
      {"bin/qv", "qv"},
      {"dir/", ""},
  };
  for (const auto& [argv0, name] : cases) {
    RunOptions o = here();
    o.argv0 = argv0;
    const Outcome r = quiltview({}, o);
    EXPECT_EQ(r.err, name + ": user error (" + kUsage + ")\n");
  }
}

TEST_F(Cli, UnreadableInputIsPermissionDenied) {
  write("secret.xml", "<a/>");
  fs::permissions(path("secret.xml"), fs::perms::none);
  RunOptions o = here();
  o.unprivileged = true;  // root reads every file
  const Outcome r = quiltview({"secret.xml"}, o);
  if (r.status == 126) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quiltview: secret.xml: openFile: permission denied (Permission denied)\n");
}

TEST_F(Cli, FullStandardOutputFailsTheRun) {
  write("a.xml", "<a><b/></a>");
  RunOptions o = here();
  o.stdoutPath = "/dev/full";
  const Outcome r = quiltview({"-o", "out.html", "a.xml"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quiltview: <stdout>: writeFile: resource exhausted (No space left on device)\n");
}

TEST_F(Cli, DeepChainCompletesOnASmallStack) {
  constexpr int kDepth = 10000;
  std::string doc;
  for (int i = 0; i < kDepth; ++i) doc += "<d>";
  write("deep.xml", doc);
  RunOptions o = here();
  o.stackLimit = 256 * 1024;
  o.stdoutPath = "/dev/null";
  const Outcome r = quiltview({"-o", "/dev/null", "deep.xml"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST_F(Cli, MillionLeafChildrenComplete) {
  std::string doc = "<w>";
  for (int i = 0; i < 1000000; ++i) doc += "<c/>";
  write("wide.xml", doc);
  RunOptions o = here();
  o.stdoutPath = path("drawing.txt");
  const Outcome r = quiltview({"-o", "wide.html", "wide.xml"}, o);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // 1,000,000 cells in 50 columns: 20,000 full rows, so no cell spans.
  const std::string page = readFile(path("wide.html"));
  EXPECT_EQ(page.find("COLSPAN"), std::string::npos);
  EXPECT_NE(page.find("displayBox(1000002)"), std::string::npos);
  EXPECT_EQ(fs::file_size(path("drawing.txt")),
            std::string("[Output \"wide.html\"]\n[\"wide.xml\"]\nwide.xml\n|\n`- <w />\n\n"
                        "Written: wide.html\n")
                    .size() +
                1000000 * std::string("   |\n   +- <c />\n").size());
}

// A file system of 1 MB, mounted when the tests run as root (as CI does).
class CliFullDisk : public Cli {
 protected:
  void SetUp() override {
    Cli::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
    fs::create_directories(path("tm"));
    if (::mount("tmpfs", path("tm").c_str(), "tmpfs", 0, "size=1m") != 0) {
      GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    }
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) ::umount(path("tm").c_str());
    Cli::TearDown();
  }
  bool mounted_ = false;
};

TEST_F(CliFullDisk, PageThatDoesNotFitIsRefusedAndTheOldPageStays) {
  write("small.xml", "<a><b/></a>");
  std::string wide = "<r>", deep;
  for (int i = 0; i < 60000; ++i) wide += "<x>hello world</x>";
  for (int i = 0; i < 20000; ++i) deep += "<a>";  // a page of 4.8 GB
  write("wide.xml", wide);
  write("deep.xml", deep);
  ASSERT_EQ(quiltview({"-o", "tm/c.html", "small.xml"}, here()).status, 0);
  const std::string good = readFile(path("tm/c.html"));
  ASSERT_TRUE(good.ends_with("></HTML\n>\n"));
  struct Case {
    std::string input;
    bool unprivileged;  // in a folder it may not write to: the page is written in place
  };
  for (const Case& c : {Case{"wide.xml", false}, Case{"deep.xml", false}, Case{"wide.xml", true}}) {
    if (c.unprivileged) {
      ASSERT_EQ(::chown(path("tm/c.html").c_str(), 65534, 65534), 0);
      fs::permissions(path("tm"), fs::perms(0555));
    }
    RunOptions o = here();
    o.unprivileged = c.unprivileged;
    if (c.input == "deep.xml") o.stdoutPath = "/dev/null";  // a drawing of 1.2 GB
    const Outcome r = quiltview({"-o", "tm/c.html", c.input}, o);
    EXPECT_EQ(r.status, 1) << c.input;
    EXPECT_EQ(r.out.find("Written: "), std::string::npos);
    EXPECT_EQ(r.err,
              "quiltview: tm/c.html: writeFile: resource exhausted (No space left on device)\n");
    EXPECT_EQ(readFile(path("tm/c.html")), good);
    EXPECT_EQ(listing(path("tm")), std::vector<std::string>{"c.html"});
  }
}

// Where no thread can start (a user at the limit of their processes), the run
// does all the work on its one thread and writes the same page.
TEST_F(Cli, RunWithoutThreadsWritesTheSamePage) {
#if QUILTVIEW_SANITIZED
  GTEST_SKIP() << "LeakSanitizer's check at exit needs a thread, which the limit refuses";
#endif
  std::string doc = "<w>";
  for (int i = 0; i < 1100000; ++i) doc += "<c/>";  // enough boxes to write in pieces
  write("wide.xml", doc);
  RunOptions o = here();
  o.stdoutPath = "/dev/null";
  ASSERT_EQ(quiltview({"-o", "ref.html", "wide.xml"}, o).status, 0);
  fs::create_directories(path("out"));
  fs::permissions(path("out"), fs::perms::all);
  o.unprivileged = true;  // root starts threads whatever the limit
  o.processLimit = 1;
  const Outcome r = quiltview({"-o", "out/one.html", "wide.xml"}, o);
  if (r.status == 126) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(readFile(path("out/one.html")) == readFile(path("ref.html")));
}

// Memory that runs out ends the run with one report and leaves the old page.
TEST_F(Cli, OutOfMemoryIsReportedAndTheOldPageStays) {
#if QUILTVIEW_SANITIZED
  GTEST_SKIP() << "a sanitized build needs more address space than any limit leaves";
#endif
  std::string doc = "<w>";
  for (int i = 0; i < 2000000; ++i) doc += "<c/>";
  write("wide.xml", doc);
  write("p.html", "old");
  RunOptions o = here();
  o.stdoutPath = "/dev/null";
  o.addressLimit = 64 << 20;  // ulimit -v 65536: far less than the run needs
  const Outcome r = quiltview({"-o", "p.html", "wide.xml"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quiltview: out of memory\n");
  EXPECT_EQ(readFile(path("p.html")), "old");
  EXPECT_EQ(listing(dir_.string()), (std::vector<std::string>{"p.html", "wide.xml"}));
}

// A file system that counts no blocks (ramfs) tells no free space: the page is
// written, not refused for want of room.
TEST_F(Cli, FileSystemThatCountsNoBlocksTakesThePage) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a ramfs needs root";
  write("a.xml", "<a><b/></a>");
  ASSERT_EQ(quiltview({"-o", "ref.html", "a.xml"}, here()).status, 0);
  fs::create_directories(path("ram"));
  if (::mount("ramfs", path("ram").c_str(), "ramfs", 0, nullptr) != 0) {
    GTEST_SKIP() << "cannot mount a ramfs: " << std::strerror(errno);
  }
  write("ram/p.html", "old");
  for (const char* output : {"ram/p.html", "ram/new.html"}) {
    const Outcome r = quiltview({"-o", output, "a.xml"}, here());
    EXPECT_EQ(r.status, 0) << output;
    EXPECT_EQ(r.err, "") << output;
    EXPECT_EQ(readFile(path(output)), readFile(path("ref.html"))) << output;
  }
  EXPECT_EQ(listing(path("ram")), (std::vector<std::string>{"new.html", "p.html"}));
  ::umount(path("ram").c_str());
}

// The file the process writes in folder, other than the one named skip: the page,
// named or not, and how far it has come.
struct Writing {
  bool found = false;
  std::string name;  // as it shows in the folder, if it does
  std::uint64_t position = 0;
};

Writing writingInto(pid_t pid, const fs::path& folder, const std::string& skip) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::error_code error;
  for (const auto& e : fs::directory_iterator(proc + "/fd", error)) {
    const fs::path target = fs::read_symlink(e.path(), error);
    if (error || target.parent_path() != folder || target.filename() == skip) continue;
    Writing w{true, target.filename().string(), 0};
    std::ifstream info(proc + "/fdinfo/" + e.path().filename().string());
    for (std::string key; info >> key;) {
      if (key == "pos:") info >> w.position;
    }
    return w;
  }
  return {};
}

// SIGKILL cannot be caught: what the run made must vanish with the process.
// On the temporary folder's file system (the disk) and on a tmpfs.
TEST_F(Cli, KilledRunLeavesTheFolderAsItWas) {
  std::string deep;
  for (int i = 0; i < 6000; ++i) deep += "<d>";  // a page of 430 MB
  fs::create_directories(path("tm"));
  std::vector<std::string> folders = {path("disk")};
  fs::create_directories(folders[0]);
  bool mounted = false;
  if (::geteuid() == 0) {
    mounted = ::mount("tmpfs", path("tm").c_str(), "tmpfs", 0, "size=1g") == 0;
    EXPECT_TRUE(mounted) << "cannot mount a tmpfs: " << std::strerror(errno);
    if (mounted) folders.push_back(path("tm"));
  }
  for (const std::string& folder : folders) {
    write(folder.substr(dir_.string().size() + 1) + "/deep.xml", deep);
    write(folder.substr(dir_.string().size() + 1) + "/p.html", "old");
    const std::vector<std::string> before = listing(folder);
    RunOptions o = here();
    o.stdoutPath = "/dev/null";
    const Running run = start({"-o", folder + "/p.html", folder + "/deep.xml"}, o);
    // Killed once some megabytes of the page are in, wherever the machine is.
    Writing w;
    for (int i = 0; i < 120000 && !(w.found && w.position >= (8u << 20)); ++i) {
      ::usleep(500);
      w = writingInto(run.pid, folder, "deep.xml");
    }
    ::kill(run.pid, SIGKILL);
    const Outcome r = finish(run);
    ASSERT_TRUE(w.found) << folder;
    if (fs::exists(folder + "/" + w.name)) {
      fs::remove(folder + "/" + w.name);
      if (mounted) ::umount(path("tm").c_str());
      GTEST_SKIP() << folder << ": the new file " << w.name
                   << " has a name from the start (no unnamed files here), which SIGKILL leaves";
    }
    EXPECT_GE(w.position, 8u << 20) << folder;
    EXPECT_EQ(r.status, 128 + SIGKILL) << folder;
    EXPECT_EQ(listing(folder), before) << folder;
    EXPECT_EQ(readFile(folder + "/p.html"), "old") << folder;
  }
  if (mounted) ::umount(path("tm").c_str());
}

// A file-size limit makes the write fail with EFBIG instead of killing the run.
// Replacing, the page is refused whole; written in place (a folder that takes no
// new file), the file is cut at the bytes written, with no reserved tail.
TEST_F(Cli, FileSizeLimitEndsTheRunWithOneReport) {
  std::string wide = "<r>";
  for (int i = 0; i < 60000; ++i) wide += "<x>hello world</x>";
  write("wide.xml", wide);
  write("small.xml", "<a/>");
  ASSERT_EQ(quiltview({"-o", "ref.html", "wide.xml"}, here()).status, 0);
  const std::string page = readFile(path("ref.html"));
  fs::create_directories(path("ro"));
  ASSERT_EQ(quiltview({"-o", "ro/c.html", "small.xml"}, here()).status, 0);
  const std::string old = readFile(path("ro/c.html"));
  constexpr rlim_t kLimit = 1000 * 1024;  // ulimit -f 1000
  ASSERT_GT(page.size(), kLimit);
  struct Case {
    bool inPlace;
    rlim_t limit;
    std::string left;
  };
  // In place, a limit of 0 fails the first write: the old page stays whole.
  const Case cases[] = {{false, kLimit, old},
                        {false, 0, old},
                        {true, 0, old},
                        {true, kLimit, page.substr(0, kLimit)}};
  for (const Case& c : cases) {
    if (c.inPlace) {
      if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path("ro/c.html").c_str(), 65534, 65534), 0);
      }
      fs::permissions(path("ro"), fs::perms(0555));
    }
    RunOptions o = here();
    o.fileSizeLimit = c.limit;
    o.stdoutPath = "/dev/null";  // the limit is the page's alone
    o.unprivileged = c.inPlace;
    const Outcome r = quiltview({"-o", "ro/c.html", "wide.xml"}, o);
    EXPECT_EQ(r.status, 1) << c.inPlace << c.limit;
    EXPECT_EQ(r.err, "quiltview: ro/c.html: writeFile: failed (File too large)\n") << c.limit;
    EXPECT_EQ(listing(path("ro")), std::vector<std::string>{"c.html"});
    EXPECT_TRUE(readFile(path("ro/c.html")) == c.left) << c.inPlace << c.limit;
  }
  fs::permissions(path("ro"), fs::perms::all);
}

// A standard output whose reader goes once it has the drawing fails at the last
// line, after the page is written: the run exits 1 and the old page stays.
TEST_F(Cli, RunThatFailsAtTheLastLineKeepsTheOldPage) {
  std::string deep;
  for (int i = 0; i < 2000; ++i) deep += "<d>";  // a drawing of 6 MB, a page of 48 MB
  write("deep.xml", deep);
  write("p.html", "old");
  RunOptions o = here();
  o.stdoutPath = path("drawing.txt");
  ASSERT_EQ(quiltview({"-o", "/dev/null", "deep.xml"}, o).status, 0);
  // The same drawing, but for the name of the output in its first line and the last.
  const std::size_t drawing = readFile(path("drawing.txt")).size() - 2 * (sizeof "/dev/null" - 1) +
                              2 * (sizeof "p.html" - 1) - (sizeof "Written: p.html" - 1 + 1);
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);  // the run must not hold the reading end
  o = here();
  o.stdoutFd = ends[1];
  const Running run = start({"-o", "p.html", "deep.xml"}, o);
  ::close(ends[1]);
  std::vector<char> buffer(1 << 16);
  std::size_t received = 0;
  for (ssize_t n = 1; n > 0 && received < drawing; received += static_cast<std::size_t>(n)) {
    n = ::read(ends[0], buffer.data(), std::min(buffer.size(), drawing - received));
  }
  ::close(ends[0]);
  const Outcome r = finish(run);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quiltview: <stdout>: writeFile: failed (Broken pipe)\n");
  EXPECT_TRUE(readFile(path("p.html")) == "old");
  EXPECT_EQ(listing(dir_.string()),
            (std::vector<std::string>{"deep.xml", "drawing.txt", "p.html"}));
}

// A document's escape sequences must not drive the user's terminal; into a file or a
// pipe the drawing keeps every byte.
TEST_F(Cli, ControlCharactersReachATerminalVisiblyAndAFileAsTheyAre) {
  const std::string text("t\x1b]0;x\x07y\0z\x7f\xc2\x9b\tc", 15);
  write("a.xml", "<r>" + text + "</r>");
  const std::string head = "[Output \"p.html\"]\n[\"a.xml\"]\na.xml\n|\n`- <r />\n   |\n   `- ";
  const std::string tail = "\n\nWritten: p.html\n";
  const Outcome file = quiltview({"-o", "p.html", "a.xml"}, here());
  ASSERT_EQ(file.status, 0);
  EXPECT_EQ(file.out, head + text + tail);
  int terminal = -1, slave = -1;
  if (::openpty(&terminal, &slave, nullptr, nullptr, nullptr) != 0) {
    GTEST_SKIP() << "no pseudo-terminal here (/dev/pts): " << std::strerror(errno);
  }
  termios raw{};
  ASSERT_EQ(::tcgetattr(slave, &raw), 0);
  ::cfmakeraw(&raw);  // the bytes as the program wrote them, no CR before a LF
  ASSERT_EQ(::tcsetattr(slave, TCSANOW, &raw), 0);
  ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
  ::fcntl(slave, F_SETFD, FD_CLOEXEC);
  RunOptions o = here();
  o.stdoutFd = slave;
  const Running run = start({"-o", "p.html", "a.xml"}, o);
  ::close(slave);
  const Outcome r = finish(run);
  std::string shown;
  char piece[4096];
  // Once every slave is closed and the data read, the terminal reads EIO.
  for (ssize_t n; (n = ::read(terminal, piece, sizeof piece)) > 0;) shown.append(piece, n);
  ::close(terminal);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(shown, head + "t^[]0;x^Gy^@z^?<U+009B>\tc" + tail);
}

TEST_F(Cli, PageReplacesWhatLinksLeadToAndKeepsItsMode) {
  write("a.xml", "<a/>");
  fs::create_directories(path("sub"));
  fs::create_symlink("sub/hop.html", path("link.html"));
  fs::create_symlink("page.html", path("sub/hop.html"));  // read from sub/
  RunOptions o = here();
  o.umask = 027;
  // A chain that leads nowhere creates its end, with 0666 less the umask.
  EXPECT_EQ(quiltview({"-o", "link.html", "a.xml"}, o).status, 0);
  const std::string page = readFile(path("sub/page.html"));
  EXPECT_TRUE(page.ends_with("></HTML\n>\n"));
  EXPECT_EQ(statOf(path("sub/page.html")).st_mode & 07777, 0640u);
  // An existing page is replaced and keeps its own mode.
  write("sub/page.html", "old");
  fs::permissions(path("sub/page.html"), fs::perms(0604));
  const ino_t oldInode = statOf(path("sub/page.html")).st_ino;
  EXPECT_EQ(quiltview({"-o", "link.html", "a.xml"}, o).status, 0);
  EXPECT_EQ(readFile(path("sub/page.html")), page);
  EXPECT_NE(statOf(path("sub/page.html")).st_ino, oldInode);
  EXPECT_EQ(statOf(path("sub/page.html")).st_mode & 07777, 0604u);
  EXPECT_TRUE(fs::is_symlink(path("link.html")) && fs::is_symlink(path("sub/hop.html")));
  EXPECT_EQ(listing(path("sub")), (std::vector<std::string>{"hop.html", "page.html"}));
}

// In a folder with the sticky bit (/tmp), only a file's owner may rename over it:
// another user's page that anyone may write is written in place, decided before
// the first byte, never refused after "Written:".
TEST_F(Cli, StickyFolderPageOfAnotherUserIsWrittenInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "a page of another user needs root to make";
  write("a.xml", "<a><b/></a>");
  ASSERT_EQ(quiltview({"-o", "ref.html", "a.xml"}, here()).status, 0);
  fs::create_directories(path("sticky"));
  fs::permissions(path("sticky"), fs::perms(01777));
  write("sticky/page.html", "old");
  fs::permissions(path("sticky/page.html"), fs::perms(0666));
  const ino_t inode = statOf(path("sticky/page.html")).st_ino;
  RunOptions o = here();
  o.unprivileged = true;
  const Outcome r = quiltview({"-o", "sticky/page.html", "a.xml"}, o);
  if (r.status == 126) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(r.out.ends_with("\nWritten: sticky/page.html\n"));
  EXPECT_EQ(readFile(path("sticky/page.html")), readFile(path("ref.html")));
  EXPECT_EQ(statOf(path("sticky/page.html")).st_ino, inode);
  EXPECT_EQ(listing(path("sticky")), std::vector<std::string>{"page.html"});
}

// Where /proc is not mounted, a symbolic link is an ordinary one: the file it
// leads to is replaced, never truncated and written in place.
TEST_F(Cli, WithoutProcALinkLeadsToTheFileThatIsReplaced) {
#if QUILTVIEW_SANITIZED
  GTEST_SKIP() << "the sanitizers' run time reads /proc: it warns and fails without it";
#endif
  if (::geteuid() != 0) GTEST_SKIP() << "a mount namespace needs root";
  write("a.xml", "<a><b/></a>");
  ASSERT_EQ(quiltview({"-o", "ref.html", "a.xml"}, here()).status, 0);
  write("page.html", "old");
  fs::create_symlink("page.html", path("link.html"));
  const ino_t inode = statOf(path("page.html")).st_ino;
  RunOptions o = here();
  o.withoutProc = true;
  const Outcome r = quiltview({"-o", "link.html", "a.xml"}, o);
  if (r.status == 126) GTEST_SKIP() << "cannot cover /proc in a mount namespace";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(path("page.html")), readFile(path("ref.html")));
  EXPECT_NE(statOf(path("page.html")).st_ino, inode);
  EXPECT_TRUE(fs::is_symlink(path("link.html")));
  EXPECT_EQ(listing(dir_.string()),
            (std::vector<std::string>{"a.xml", "link.html", "page.html", "ref.html"}));
}

TEST_F(Cli, FifoOutputIsWrittenInPlace) {
  write("a.xml", "<a><b/></a>");
  ASSERT_EQ(quiltview({"-o", "ref.html", "a.xml"}, here()).status, 0);
  ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] { received = readFile(path("fifo")); });
  const Outcome r = quiltview({"-o", "fifo", "a.xml"}, here());
  // Frees the reader should the run have failed before opening the FIFO.
  const int unblock = ::open(path("fifo").c_str(), O_WRONLY | O_NONBLOCK);
  if (unblock >= 0) ::close(unblock);
  reader.join();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(received, readFile(path("ref.html")));
  EXPECT_EQ(fs::status(path("fifo")).type(), fs::file_type::fifo);
}

TEST_F(Cli, PermissionsOfFolderAndFileDecideHowThePageIsWritten) {
  write("a.xml", "<a/>");
  ASSERT_EQ(quiltview({"-o", "ref.html", "a.xml"}, here()).status, 0);
  const std::string page = readFile(path("ref.html"));
  fs::create_directories(path("ro"));
  fs::create_directories(path("rw"));
  write("ro/page.html", std::string(page.size() * 2, 'x'));  // longer than the new page
  write("rw/locked.html", "old");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path("ro/page.html").c_str(), 65534, 65534), 0);
  }
  fs::permissions(path("rw"), fs::perms::all);
  fs::permissions(path("rw/locked.html"), fs::perms(0444));
  fs::permissions(path("ro"), fs::perms(0555));
  const ino_t inode = statOf(path("ro/page.html")).st_ino;
  const std::string denied = ": openFile: permission denied (Permission denied)\n";
  struct Case {
    std::string output, err, content;
  };
  const Case cases[] = {
      {"ro/page.html", "", page},  // no new file in the folder: written in place
      {"ro/new.html", "quiltview: ro/new.html" + denied, ""},
      {"rw/locked.html", "quiltview: rw/locked.html" + denied, "old"},
  };
  RunOptions o = here();
  o.unprivileged = true;
  for (const Case& c : cases) {
    const Outcome r = quiltview({"-o", c.output, "a.xml"}, o);
    if (r.status == 126) GTEST_SKIP() << "cannot run as nobody";
    EXPECT_EQ(r.status, c.err.empty() ? 0 : 1) << c.output;
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(readFile(path(c.output)), c.content) << c.output;
  }
  EXPECT_EQ(statOf(path("ro/page.html")).st_ino, inode);
  EXPECT_EQ(listing(path("ro")), std::vector<std::string>{"page.html"});
  EXPECT_EQ(listing(path("rw")), std::vector<std::string>{"locked.html"});
  fs::permissions(path("ro"), fs::perms::all);  // lets the fixture remove it
}

TEST_F(Cli, ClosedStandardOutputIsReportedAndNoPageIsWritten) {
  write("a.xml", "<a/>");
  write("x.html", "old");
  int ends[2];
  ASSERT_EQ(::pipe(ends), 0);
  ::close(ends[0]);  // the reader has gone before the first byte
  RunOptions o = here();
  o.stdoutFd = ends[1];
  const Outcome r = quiltview({"-o", "x.html", "a.xml"}, o);
  ::close(ends[1]);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quiltview: <stdout>: writeFile: failed (Broken pipe)\n");
  EXPECT_EQ(readFile(path("x.html")), "old");
  EXPECT_EQ(listing(dir_.string()), (std::vector<std::string>{"a.xml", "x.html"}));
}

}  // namespace
