// What every system shares (shared.cpp): the error value of a step, FdSink, reading
// a whole file and PageFile's rules, over the steps each system takes for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/output.h"
#include "platform/platform.h"

namespace qv::platform {

// A failed step: the operation and its errno, or 0 and the system's own words;
// `where`, when set, stands for the path in the report (to say where pages are).
struct Failure {
  const char* operation;
  int errnum;
  std::string description = {};
  std::string where = {};
  Error error(const std::string& path) const {
    return Error::io(where.empty() ? path : where, operation, errnum, description);
  }
};
using Outcome = std::optional<Failure>;  // nothing when the step succeeded

// Writes every byte; adds those that reached the file to written.
Outcome writeAll(int fd, const char* data, std::size_t size, std::uint64_t& written);
int closeFd(int fd);        // 0 or the close's errno
bool isTerminalFd(int fd);  // on Windows, a console
// A descriptor to read path, or minus the open's errno (EISDIR for a directory);
// size is the file's, or -1 where it tells none (pipes, devices).
int openToRead(const std::string& path, std::int64_t& size);
// At most room bytes: their count, 0 at the end, or minus an errno.
std::int64_t readSome(int fd, char* data, std::size_t room);
// Huge pages for the whole huge pages inside [p, p + bytes), where there are any.
void adviseHugePages(void* p, std::size_t bytes) noexcept;
unsigned long processId();

// One system's page file: open() opens the path or a new file beside it for size bytes,
// reserved; close() gives it its length and the old page's permissions; commit() puts it
// over the path. Destroying it undoes what was not committed.
class PageSteps {
 public:
  virtual ~PageSteps() = default;
  virtual Outcome open(const std::string& path, std::uint64_t size) = 0;
  virtual Outcome write(const char* data, std::size_t size, std::uint64_t& written) = 0;
  virtual Outcome close() = 0;
  virtual Outcome commit() = 0;
};
std::unique_ptr<PageSteps> systemPageSteps();

// create(name) of a hidden name beside the page, folder + "." + base's first 200 bytes +
// ".PID.RANDOM", anew for each EEXIST, 9 at most; name stays empty when all failed.
Outcome createHidden(const std::string& folder, const std::string& base, std::string& name,
                     const std::function<Outcome(const std::string&)>& create);

#if !defined(_WIN32)
// POSIX page steps that try unnamed files where tryUnnamedFiles and the system
// (unnamedFilesBuilt: Linux, this build) allow it, else hidden ones.
std::unique_ptr<PageSteps> posixPageSteps(bool tryUnnamedFiles);
extern const bool unnamedFilesBuilt;
#endif

}  // namespace qv::platform
