#include "app/driver.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/scratch_dir.h"
#include "tests/string_sink.h"
#include "tree/error.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using qvtest::StringSink;

struct RunResult {
  int status;
  std::string out, err;
};

RunResult runWith(std::vector<std::string> args, Sink* failingOut = nullptr) {
  StringSink out, err;
  const int status = run(args, failingOut ? *failingOut : out, err);
  return {status, out.text, err.text};
}

using DriverTest = qvtest::ScratchDirTest;

TEST(Driver, ProgramNameDropsEverythingUpToTheLastSeparator) {
  const std::pair<std::string, std::string> cases[] = {
      {"quiltview", "quiltview"},
      {"./build/quiltview", "quiltview"},
      {"C:\\tools\\quiltview.exe", "quiltview.exe"},
      {"/quiltview", "/quiltview"},  // the first position does not count
      {"\\q", "\\q"},
      {"a/b\\c", "c"},
      {"dir/", ""},
      {"", ""},
  };
  for (const auto& [argv0, name] : cases) EXPECT_EQ(programName(argv0), name) << argv0;
}

TEST(Driver, OutputFileNameIsTheFirstOutputFlag) {
  EXPECT_EQ(outputFileName({}), "quiltpage.html");
  EXPECT_EQ(outputFileName({Flag::verbose(), Flag::maxName("3")}), "quiltpage.html");
  EXPECT_EQ(outputFileName({Flag::verbose(), Flag::output("x.html"), Flag::output("y.html")}),
            "x.html");
  EXPECT_EQ(outputFileName({Flag::output("")}), "");
}

TEST(Driver, CommandLineFailureWritesNothingButTheReport) {
  const RunResult r = runWith({"/usr/bin/quiltview", "-x", "a.xml"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "quiltview: user error (unrecognized option `-x'\n"
            "Usage: quiltview [OPTION...] <input file.xml>\n"
            "  -v          --verbose       verbose output on stderr\n"
            "  -n Integer  --name=Integer  maximum size of filename. than truncation.\n"
            "  -o FILE     --output=FILE   output FILE\n"
            ")\n");
}

TEST(Driver, NoArgumentsAtAllIsAUsageErrorWithAnEmptyName) {
  const RunResult r = runWith({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with(": user error (Usage: quiltview [OPTION...] <input file.xml>\n"));
}

TEST_F(DriverTest, UnreadableInputIsReportedAfterTheArgumentLines) {
  const std::string missing = path("data.xml");
  RunResult r = runWith({"qv", missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "[]\n[\"" + missing + "\"]\n");
  EXPECT_EQ(r.err, "qv: " + missing + ": openFile: does not exist (No such file or directory)\n");

  r = runWith({"qv", "-o", path("out.html"), dir_.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "qv: " + dir_.string() + ": openFile: inappropriate type (Is a directory)\n");
  EXPECT_FALSE(fs::exists(path("out.html")));
}

struct FailingSink : Sink {
  void write(const char*, std::size_t) override {
    throw Error::io("<stdout>", "writeFile", ENOSPC);
  }
};

TEST_F(DriverTest, FailingStandardOutputIsAFailure) {
  write("a.xml", "<a/>");
  FailingSink full;
  const RunResult r = runWith({"quiltview", "-o", path("a.html"), path("a.xml")}, &full);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "quiltview: <stdout>: writeFile: resource exhausted (No space left on device)\n");
}

}  // namespace
}  // namespace qv
