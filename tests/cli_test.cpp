// Runs the built quiltview as a user would and checks exit status, standard
// output, standard error and the files it leaves.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

struct RunOptions {
  std::string argv0 = QUILTVIEW_BINARY;
  std::string cwd;
  std::string stdoutPath;     // when set, standard output goes to this file instead
  rlim_t stackLimit = 0;      // bytes; 0 keeps the inherited limit
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Outcome quiltview(const std::vector<std::string>& args, const RunOptions& o = {}) {
  const fs::path tmp = fs::temp_directory_path() / ("qv-cli-" + std::to_string(::getpid()));
  fs::create_directories(tmp);
  const std::string outFile = o.stdoutPath.empty() ? (tmp / "stdout").string() : o.stdoutPath;
  const std::string errFile = (tmp / "stderr").string();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
    if (!o.cwd.empty() && ::chdir(o.cwd.c_str()) != 0) ::_exit(126);
    if (o.stackLimit != 0) {
      const rlimit limit{o.stackLimit, o.stackLimit};
      if (::setrlimit(RLIMIT_STACK, &limit) != 0) ::_exit(126);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(o.argv0.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(QUILTVIEW_BINARY, argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  Outcome r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  if (o.stdoutPath.empty()) r.out = readFile(outFile);
  r.err = readFile(errFile);
  return r;
}

const std::string kUsage =
    "Usage: quiltview [OPTION...] <input file.xml>\n"
    "  -v          --verbose       verbose output on stderr\n"
    "  -n Integer  --name=Integer  maximum size of filename. than truncation.\n"
    "  -o FILE     --output=FILE   output FILE\n";

class Cli : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qv-cli-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  void write(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  RunOptions here() const {
    RunOptions o;
    o.cwd = dir_.string();
    return o;
  }
  fs::path dir_;
};

TEST_F(Cli, MalformedCommandLinesGetTheirMessageAndTheUsage) {
  struct Case {
    std::vector<std::string> args;
    std::string messages;
  };
  const Case cases[] = {
      {{}, ""},
      {{"-v"}, ""},
      {{"-o"}, "option `-o' requires an argument FILE\n"},
      {{"--out"}, "option `--out' requires an argument FILE\n"},
      {{"--verbose=yes", "a.xml"}, "option `--verbose' doesn't allow an argument\n"},
      {{"--colour=red", "a.xml"}, "unrecognized option `--colour=red'\n"},
      {{"-xv", "a.xml"}, "unrecognized option `-x'\n"},
      {{"--o", "a.xml"}, ""},
  };
  write("a.xml", "<a/>");
  for (const Case& c : cases) {
    const Outcome r = quiltview(c.args, here());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "quiltview: user error (" + c.messages + kUsage + ")\n");
  }
  // No file is touched: neither the default page nor the named one.
  EXPECT_FALSE(fs::exists(path("quiltpage.html")));
  EXPECT_FALSE(fs::exists(path("a.xml.html")));
}

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

TEST_F(Cli, MissingOrDirectoryInputIsReportedAfterTheArgumentLines) {
  Outcome r = quiltview({"data.xml"}, here());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "[]\n[\"data.xml\"]\n");
  EXPECT_EQ(r.err, "quiltview: data.xml: openFile: does not exist (No such file or directory)\n");

  fs::create_directories(path("sub"));
  r = quiltview({"-v", "sub"}, here());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "[Verbose]\n[\"sub\"]\n");
  EXPECT_EQ(r.err, "quiltview: sub: openFile: inappropriate type (Is a directory)\n");

  r = quiltview({""}, here());
  EXPECT_EQ(r.out, "[]\n[\"\"]\n");
  EXPECT_EQ(r.err, "quiltview: : openFile: does not exist (No such file or directory)\n");
  EXPECT_FALSE(fs::exists(path("quiltpage.html")));
}

TEST_F(Cli, UnreadableInputIsPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  write("secret.xml", "<a/>");
  fs::permissions(path("secret.xml"), fs::perms::none);
  const Outcome r = quiltview({"secret.xml"}, here());
  EXPECT_EQ(r.err, "quiltview: secret.xml: openFile: permission denied (Permission denied)\n");
}

TEST_F(Cli, FullStandardOutputFailsTheRun) {
  write("a.xml", "<a><b/></a>");
  RunOptions o = here();
  o.stdoutPath = "/dev/full";
  const Outcome r = quiltview({"-o", "out.html", "a.xml"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quiltview: <stdout>: writeFile: resource exhausted (No space left on device)\n");
}

}  // namespace
