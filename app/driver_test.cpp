#include "app/driver.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/error.h"
#include "tests/scratch_dir.h"
#include "tests/string_sink.h"

namespace qv {
namespace {

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

TEST(Driver, NoArgumentsAtAllIsAUsageErrorWithAnEmptyName) {
  const RunResult r = runWith({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(r.err.starts_with(": user error (Usage: quiltview [OPTION...] <input file.xml>\n"));
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

// The report names the first failure, whatever the streams do afterwards: an
// output that fails when the report flushes it, an error stream that fails too.
TEST_F(DriverTest, FirstFailureIsReportedWhateverTheStreamsDoAfterwards) {
  const std::string missing = path("missing.xml");
  const std::string report =
      "quiltview: " + missing + ": openFile: does not exist (No such file or directory)\n";
  FailingSink failing;
  StringSink out, err;
  EXPECT_EQ(run({"quiltview", missing}, failing, err), 1);
  EXPECT_EQ(err.text, report);
  EXPECT_EQ(run({"quiltview", missing}, out, failing), 1);
  EXPECT_TRUE(out.text.starts_with("[]\n[\""));  // the argument lines came first
  EXPECT_EQ(run({"quiltview", missing}, failing, failing), 1);
}

}  // namespace
}  // namespace qv
