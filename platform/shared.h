// What every system shares: the error value of a step, the rules of PageFile
// (PageCore, shared.cpp) and the steps a system takes for them (posix_page.cpp,
// windows_page.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/output.h"

namespace qv::platform {

// A failed step: the operation ("openFile", "writeFile", "closeFile") and its errno,
// or 0 and the system's own words where its error has none. `where`, when set,
// stands for the path in the report, which must then say where the pages are.
struct Failure {
  const char* operation;
  int errnum;
  std::string description = {};
  std::string where = {};
  Error error(const std::string& path) const {
    return Error::io(where.empty() ? path : where, operation, errnum, description);
  }
};
// Nothing when the step succeeded.
using Outcome = std::optional<Failure>;

// One system's page file; destroying it undoes what was not committed.
class PageSteps {
 public:
  virtual ~PageSteps() = default;
  // Opens what the page of size bytes is written through, its space reserved: the
  // path itself, or a new file beside it, named by createHidden.
  virtual Outcome open(const std::string& path, std::uint64_t size) = 0;
  // Writes every byte; adds those that reached the file to written.
  virtual Outcome write(const char* data, std::size_t size, std::uint64_t& written) = 0;
  // Gives the page its length and the old page's permissions, and closes it.
  virtual Outcome close() = 0;
  // Puts the closed page over the path.
  virtual Outcome commit() = 0;
};

// This system's steps, as PageFile takes them.
std::unique_ptr<PageSteps> systemPageSteps();

// Calls create(name) with a hidden name beside the page (folder + "." + the first
// 200 bytes of base + ".PID.RANDOM"), a new one for each EEXIST, 9 names at most;
// returns its last outcome, name left empty when it failed.
Outcome createHidden(const std::string& folder, const std::string& base, std::string& name,
                     const std::function<Outcome(const std::string&)>& create);
unsigned long processId();

// PageFile's rules over the steps: the page's size in the system's bytes, checked at
// close(), and no commit() before it. Every member throws the Error of a failed step.
class PageCore {
 public:
  PageCore(const std::string& path, TextSize size, std::unique_ptr<PageSteps> steps);
  void write(const char* data, std::size_t size);
  void close();
  void commit();

 private:
  std::string path_;  // as typed, for reports
  std::uint64_t size_;
  std::uint64_t written_ = 0;
  bool closed_ = false;
  std::unique_ptr<PageSteps> steps_;
};

}  // namespace qv::platform
