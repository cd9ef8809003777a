// Runs the built quiltview as a user would and checks exit status, standard
// output, standard error and the files it leaves.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/scratch_dir.h"

#include <cstdint>
#include <cstdio>
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
  // As root, first give up the override of file permissions (see below).
  bool obeyFilePermissions = false;
};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Root reads and writes any file whatever its mode. This removes the two
// capabilities that allow it from the process for good (the bounding set too), so
// that the program it executes meets file permissions as any other user would.
bool giveUpFilePermissionOverride() {
  constexpr int kCaps[] = {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH};
  for (const int cap : kCaps) {
    if (::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return false;
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  std::uint32_t mask = 0;
  for (const int cap : kCaps) mask |= 1u << cap;
  data[0].effective &= ~mask;
  data[0].permitted &= ~mask;
  data[0].inheritable &= ~mask;
  return ::syscall(SYS_capset, &header, data) == 0;
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
    if (o.obeyFilePermissions && ::geteuid() == 0 && !giveUpFilePermissionOverride()) {
      ::dprintf(2, "cannot give up root's override of file permissions\n");
      ::_exit(126);
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
  fs::remove_all(tmp);
  return r;
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
  write("secret.xml", "<a/>");
  fs::permissions(path("secret.xml"), fs::perms::none);
  RunOptions o = here();
  o.obeyFilePermissions = true;
  const Outcome r = quiltview({"secret.xml"}, o);
  EXPECT_EQ(r.status, 1);
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

TEST_F(Cli, WholeRunWritesDrawingPageAndConfirmation) {
  write("data.xml", "<a><b/></a>");
  const Outcome r = quiltview({"-o", "out.html", "data.xml"}, here());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "[Output \"out.html\"]\n[\"data.xml\"]\n"
            "data.xml\n|\n`- <a />\n   |\n   `- <b />\n\n"
            "Written: out.html\n");
  const std::string page = readFile(path("out.html"));
  EXPECT_TRUE(page.starts_with("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 FINAL//EN\">\n"));
  EXPECT_NE(page.find("BGCOLOR = \"yellow\""), std::string::npos);
  EXPECT_NE(page.find("<TABLE ID = \"boxId2\" STYLE = \"display: none;\""), std::string::npos);
  EXPECT_NE(page.find("<div onclick=\"displayBox(3)\">&lt;b&nbsp;/&gt;\n</div>"),
            std::string::npos);
  EXPECT_TRUE(page.ends_with("></HTML\n>\n"));
}

TEST_F(Cli, OutputPathChoices) {
  write("a.xml", "<a/>");
  write("b.xml", "<b/>");
  // Only the first input is read; the argument line lists both.
  Outcome r = quiltview({"a.xml", "b.xml"}, here());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[]\n[\"a.xml\",\"b.xml\"]\na.xml\n|\n`- <a />\n\nWritten: quiltpage.html\n");
  const std::string defaultPage = readFile(path("quiltpage.html"));
  EXPECT_NE(defaultPage.find("&lt;a&nbsp;/&gt;"), std::string::npos);
  // The first -o wins; -v and -n change nothing but the flag line.
  r = quiltview({"-o", "x.html", "-v", "-n", "3", "-o", "y.html", "a.xml"}, here());
  EXPECT_TRUE(r.out.starts_with("[Output \"x.html\",Verbose,MaxName \"3\",Output \"y.html\"]\n"));
  EXPECT_TRUE(r.out.ends_with("Written: x.html\n"));
  EXPECT_EQ(readFile(path("x.html")), defaultPage);
  EXPECT_FALSE(fs::exists(path("y.html")));
  // An existing output is replaced, even when it is the input itself.
  r = quiltview({"-o", "a.xml", "a.xml"}, here());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(path("a.xml")), defaultPage);
}

TEST_F(Cli, EmptyDocumentGivesTheRootAlone) {
  write("empty.xml", "");
  const Outcome r = quiltview({"empty.xml"}, here());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "[]\n[\"empty.xml\"]\nempty.xml\n\nWritten: quiltpage.html\n");
  const std::string page = readFile(path("quiltpage.html"));
  EXPECT_EQ(page.find("boxId1"), std::string::npos);
  EXPECT_NE(page.find("BGCOLOR = \"white\""), std::string::npos);
}

TEST_F(Cli, UnwritableOutputIsReportedAfterTheDrawing) {
  write("a.xml", "<a/>");
  Outcome r = quiltview({"-o", "out/x.html", "a.xml"}, here());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "[Output \"out/x.html\"]\n[\"a.xml\"]\na.xml\n|\n`- <a />\n\n");
  EXPECT_EQ(r.err, "quiltview: out/x.html: openFile: does not exist (No such file or directory)\n");
  r = quiltview({"--output=", "a.xml"}, here());
  EXPECT_EQ(r.err, "quiltview: : openFile: does not exist (No such file or directory)\n");
  r = quiltview({"-o", "/dev/full", "a.xml"}, here());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("Written: "), std::string::npos);
  EXPECT_EQ(r.err, "quiltview: /dev/full: writeFile: resource exhausted (No space left on device)\n");
}

TEST_F(Cli, DrawingOfTheDocumentExample) {
  write("in.xml", "<?xml version=\"1.0\"?><root><a x=\"1\">hello</a><b/></root>");
  const Outcome r = quiltview({"-v", "-o", "C:\\out.html", "in.xml"}, here());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "[Verbose,Output \"C:\\\\out.html\"]\n"
            "[\"in.xml\"]\n"
            "in.xml\n"
            "|\n"
            "+- <?xml version=\"1.0\" ?>\n"
            "|\n"
            "`- <root />\n"
            "   |\n"
            "   +- <a x=\"1\" />\n"
            "   |  |\n"
            "   |  `- hello\n"
            "   |\n"
            "   `- <b />\n"
            "\n"
            "Written: C:\\out.html\n");
}

TEST_F(Cli, DrawingShowsTheReadersAnswers) {
  struct Case {
    std::string document;
    std::string drawing;  // without the input path line and the final empty line
  };
  const Case cases[] = {
      {"<a>x &lt; y</a>", "|\n`- <a />\n   |\n   `- x < y\n"},
      {"<a>1&foo;2</a>", "|\n`- <a />\n   |\n   +- 1\n   |\n   +- foo\n   |\n   `- 2\n"},
      {"<a></b></a>", "|\n`- <a />\n   |\n   `- </b>\n"},
      {"<a t=\"x &amp; &nope;\"/>", "|\n`- <a t=\"x &amp; &amp;nope;\" />\n"},
      {"<a>&#233;&#x100;&#xD800;</a>", "|\n`- <a />\n   |\n   `- \xe9\xc4\x80\xed\xa0\x80\n"},
      {"<a>&;&;</a>", "|\n`- <a />\n   |\n   +- \n   |\n   `- \n"},
      {"<a>\r\n  \xa0</a>", "|\n`- <a />\n"},
      {"<a>line1\r\nline2</a>", "|\n`- <a />\n   |\n   `- line1\nline2\n"},
  };
  for (const Case& c : cases) {
    write("doc.xml", c.document);
    const Outcome r = quiltview({"-o", "/dev/null", "doc.xml"}, here());
    EXPECT_EQ(r.status, 0) << c.document;
    EXPECT_EQ(r.out, "[Output \"/dev/null\"]\n[\"doc.xml\"]\ndoc.xml\n" + c.drawing + "\n" +
                         "Written: /dev/null\n")
        << c.document;
  }
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
                        "Written: wide.html\n").size() +
                1000000 * std::string("   |\n   +- <c />\n").size());
}

}  // namespace
