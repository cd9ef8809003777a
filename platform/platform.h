// The platform layer: everything that differs by operating system, behind the
// narrow interfaces the program already has. CMake picks one implementation,
// posix*.cpp or windows*.cpp; nothing outside this folder knows which.
//
// Failures come back as Failure, an operation and an errno value: the callers
// know the path the user typed and turn it into the one report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qv::platform {

// A failed system call: the operation as reports name it ("openFile",
// "readFile", "writeFile", "closeFile") and the errno value it left, Win32
// errors mapped to errno as the C library maps them.
struct Failure {
  const char* operation;
  int errnum;
};

// The bytes one line feed takes once it reaches a file or a standard stream,
// which are opened in text mode: 1 where the C library leaves it alone, 2 where
// it writes carriage return and line feed.
inline constexpr unsigned kLineEndBytes = QUILTVIEW_LINE_END_BYTES;

// ---- Process

// Sets the process up for a run (a closed pipe or a file size limit becomes a
// failed write rather than a signal; the standard streams in text mode) and
// returns its arguments, program name first, as UTF-8 bytes where the platform
// keeps them in another form.
std::vector<std::string> startProcess(int argc, char** argv);

// The CPU count this process may run threads on (its affinity), at least 1.
unsigned availableCpus();

// ---- Memory for large arrays

// Pages for a large block, aligned for huge pages where there are any; null
// when the system has none to give. Freed with unmapLarge and the same size.
void* mapLarge(std::size_t bytes) noexcept;
void unmapLarge(void* p, std::size_t bytes) noexcept;

// ---- Files

// The descriptors of the standard streams.
int standardOutput();
int standardError();
// Writes every byte (in chunks a single call can take); throws Failure.
void writeAll(int fd, const char* data, std::size_t size);
// Closes fd; throws Failure when the close reports an error.
void closeFile(int fd);
void closeQuietly(int fd) noexcept;
// The whole file, read in binary mode: the reader sees every byte. A directory
// fails with EISDIR when it is opened. Throws Failure.
std::string readWholeFile(const std::string& path);

// ---- The page's file

// The page's file, opened for a page of exactly `size` bytes as they reach the
// file (each line feed counted at kLineEndBytes), in text mode. A regular file,
// or a path that names none yet, is replaced all or nothing: the page goes into a
// new file in the same folder, whose space is reserved before the first byte, and
// commit() puts it over the path once close() has run.
//
// POSIX: the new file has no name until commit() where Linux has unnamed files
// (given a hidden name just before the rename), so a run killed on the way leaves
// nothing behind; elsewhere it is a hidden file from the start, which a stop
// signal (SIGINT, SIGTERM, SIGHUP) removes. The path's symbolic links are
// followed, so the file they lead to is replaced, keeping its mode and owner.
// Windows: the new file is replaced over the old with ReplaceFileW, which keeps
// its attributes and ACL (MoveFileExW where there is no old file), and Ctrl-C or a
// closed console removes it; a read-only page is refused.
//
// Anything else (a device such as /dev/null or NUL, a FIFO, a pipe, a terminal)
// is written in place, and so is an existing file in a folder where no new file
// can be created. That last case is not all or nothing: the page is written over
// the old one, and a failure or a stop signal on the way leaves the file cut at
// the bytes written so far (its space is still reserved first, without
// lengthening it, so a page that does not fit is refused while the old page is
// whole). Destroying a PageFile that was not committed removes the new file and,
// replacing, leaves the path as it was. Every failure is a Failure.
class PageFile {
 public:
  PageFile(const std::string& path, std::uint64_t size);
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile();

  void write(const char* data, std::size_t size);
  // Gives the page the old file's permissions and closes it; not in place yet,
  // unless it was written in place.
  void close();
  // Puts the closed page in place, over the old file.
  void commit();

  // Whether the new file may be unnamed until commit(), where the system has
  // unnamed files (unnamedFiles); tests turn it off to run the named fallback.
  static inline bool tryUnnamed = true;
  static const bool unnamedFiles;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// ---- Errors

// The C library's description of errnum ("No such file or directory").
std::string describeError(int errnum);
// Whether errnum is the platform's "disk quota exceeded", where it has one.
bool isQuotaError(int errnum);

}  // namespace qv::platform
