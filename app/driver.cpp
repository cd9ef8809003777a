#include "app/driver.h"

#include <unistd.h>

#include <new>

#include "app/io.h"
#include "diag/diag.h"
#include "tree/error.h"
#include "tree/tree.h"
#include "treemap/render.h"
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

void runSteps(const std::vector<std::string>& args, Output& out) {
  const ParsedOptions options = parseOptions(args);
  showFlags(out, options.flags);
  showPositionals(out, options.positionals);
  const std::string& inputPath = options.positionals.front();
  std::string document = readWholeFile(inputPath);
  NameTree nameTree = nameTreeOf(inputPath, std::move(document));
  showTree(out, nameTree);
  // The input is read and closed before the page is opened, so the page may replace it.
  const std::string outputPath = outputFileName(options.flags);
  FdSink file = FdSink::create(outputPath);
  {
    Output page(file);
    writeTreeMapExt(page, defaultTreeOpts(), std::move(nameTree));
    page.close();
  }
  out.write("Written: ");
  out.write(outputPath);
  out.put('\n');
}

}  // namespace

int run(const std::vector<std::string>& args, Sink& standardOutput, Sink& standardError) {
  Output out(standardOutput);
  std::string message;
  try {
    // A process may be started with no arguments at all, not even its name.
    runSteps(args.empty() ? args : std::vector<std::string>(args.begin() + 1, args.end()), out);
    out.close();
    return 0;
  } catch (const Error& e) {
    message = e.message();
  } catch (const std::bad_alloc&) {
    message = "out of memory";
  }
  // The report: what the standard output holds goes first, then one line on
  // the error stream. A standard output that already failed stays failed.
  try {
    out.flush();
  } catch (const Error&) {
  }
  const std::string report = programName(args.empty() ? std::string() : args[0]) + ": " + message + "\n";
  try {
    standardError.write(report.data(), report.size());
  } catch (const Error&) {
  }
  return 1;
}

int runMain(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  FdSink standardOutput(STDOUT_FILENO, "<stdout>");
  FdSink standardError(STDERR_FILENO, "<stderr>");
  return run(args, standardOutput, standardError);
}

}  // namespace qv
