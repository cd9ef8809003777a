#include "app/driver.h"

#include <future>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "base/error.h"
#include "base/threads.h"
#include "diag/diag.h"
#include "platform/platform.h"
#include "tree/tree.h"
#include "treemap/page.h"
#include "xml/reader.h"

namespace qv {

std::string outputFileName(const std::vector<Flag>& flags) {
  for (const Flag& f : flags) {
    if (f.kind == Flag::Kind::Output) return f.text;
  }
  return "quiltpage.html";
}

std::string programName(const std::string& argv0) {
  for (std::size_t i = argv0.size(); i-- > 1;) {
    if (argv0[i] == '/' || argv0[i] == '\\') return argv0.substr(i + 1);
  }
  return argv0;
}

namespace {

void runSteps(const std::vector<std::string>& args, Output& out, bool outputIsTerminal) {
  const ParsedOptions options = parseOptions(args);
  showFlags(out, options.flags);
  showPositionals(out, options.positionals);
  const std::string& inputPath = options.positionals.front();
  Bytes document = platform::readWholeFile(inputPath);
  const auto nameTree =
      std::make_shared<const LabelTree>(nameTreeOf(inputPath, std::move(document)));
  const Workers workers = workersFor(platform::availableCpus(), nameTree->size());
  // The page is laid out and measured while the tree is drawn: both only read it.
  std::packaged_task<TreeMapPage()> build(
      [nameTree, &workers] { return treeMapExt(defaultTreeOpts(), nameTree, workers.layout); });
  std::future<TreeMapPage> building = build.get_future();
  // A thread of our own, not std::async: where no thread can be had (ulimit -u),
  // libc++'s async waits forever for the thread it could not start.
  std::thread builder;
  if (workers.overlap) {
    try {
      builder = std::thread([&build] { build(); });
    } catch (const std::system_error&) {
      // No thread to be had: the page is made after the drawing instead.
    }
  }
  // However this step ends, the page's thread is waited for first.
  struct Joined {
    std::thread& thread;
    ~Joined() {
      if (thread.joinable()) thread.join();
    }
  } joined{builder};
  showTree(out, *nameTree, outputIsTerminal);
  // A standard output whose reader has gone ends the run here, before the page
  // replaces anything.
  out.flush();
  if (!builder.joinable()) build();
  const TreeMapPage page = building.get();
  // The input is read and closed before the page is opened, so the page may replace it.
  const std::string outputPath = outputFileName(options.flags);
  platform::PageFile file(outputPath, page.size());
  page.write(file, workers.page);
  file.close();
  out.write("Written: ");
  out.write(outputPath);
  out.put('\n');
  // The page replaces the old one only once the standard output has taken
  // everything: a run that fails leaves the old page as it was.
  out.flush();
  file.commit();
}

}  // namespace

int run(const std::vector<std::string>& args, Sink& standardOutput, Sink& standardError,
        bool outputIsTerminal) {
  Output out(standardOutput);
  std::string message;
  try {
    // A process may be started with no arguments at all, not even its name.
    runSteps(args.empty() ? args : std::vector<std::string>(args.begin() + 1, args.end()), out,
             outputIsTerminal);
    out.close();
    return 0;
  } catch (const Error& e) {
    message = e.message();
  } catch (const std::bad_alloc&) {
    message = "out of memory";
  } catch (const std::exception& e) {
    // Nothing the program throws gets here; should the library throw something
    // else, the run still ends with a report.
    message = e.what();
  }
  // The report: what the standard output holds goes first, then one line on
  // the error stream. A standard output that already failed stays failed.
  try {
    out.flush();
  } catch (const Error&) {
  }
  const std::string report =
      programName(args.empty() ? std::string() : args[0]) + ": " + message + "\n";
  try {
    standardError.write(report.data(), report.size());
  } catch (const Error&) {
  }
  return 1;
}

int runMain(int argc, char** argv) {
  const std::vector<std::string> args = platform::startProcess(argc, argv);
  platform::FdSink standardOutput = platform::standardOutput();
  platform::FdSink standardError = platform::standardError();
  return run(args, standardOutput, standardError, standardOutput.isTerminal());
}

}  // namespace qv
