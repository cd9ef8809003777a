// The platform layer: everything that differs by operating system. CMake picks one
// implementation, posix*.cpp or windows*.cpp; nothing outside this folder knows
// which. Every failure is an Error naming the path as the user typed it (or
// "<stdout>", "<stderr>"), the failed operation and the C library's description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/output.h"

namespace qv::platform {

// ---- Process

// Sets the process up for a run (a closed pipe or a file size limit becomes a
// failed write rather than a signal; on Windows, the standard streams in binary
// mode with the program's own CR LF, and a console shown UTF-8 while the run
// lasts) and returns its arguments, program name first, as UTF-8 bytes where the
// platform keeps them in another form.
std::vector<std::string> startProcess(int argc, char** argv);

// The CPU count this process may run threads on (its affinity), at least 1.
unsigned availableCpus();

// Pages for a large block straight from the system, aligned for huge pages where
// it has them; null when it has none to give. Freed with unmapLarge and the same
// size.
void* mapLarge(std::size_t bytes) noexcept;
void unmapLarge(void* p, std::size_t bytes) noexcept;

// ---- Files

// An open descriptor as a Sink: every byte is written (short writes and
// interruptions retried), close() reports what the close reports. It owns the
// descriptor; name is the path shown in reports.
class FdSink : public Sink {
 public:
  FdSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  FdSink(FdSink&& other) noexcept : fd_(other.fd_), name_(std::move(other.name_)) {
    other.fd_ = -1;
  }
  FdSink(const FdSink&) = delete;
  FdSink& operator=(const FdSink&) = delete;
  // Closes quietly if close() was not called (a run that already failed).
  ~FdSink() override;

  void write(const char* data, std::size_t size) override;
  void close() override;
  // Whether the descriptor is a terminal (on Windows, a console).
  bool isTerminal() const;

 private:
  int fd_;
  std::string name_;
};

// The standard streams, named "<stdout>" and "<stderr>" in reports.
FdSink standardOutput();
FdSink standardError();

// The whole file, read in binary mode: the reader sees every byte. A directory
// is refused when it is opened (EISDIR): reading it must never look like an empty
// document.
std::string readWholeFile(const std::string& path);

// ---- The page's file

// The bytes a text of this size takes in the system's files, where a line end may
// take more than its line feed (CR LF on Windows).
std::uint64_t bytesInFile(TextSize size);

// The page's file, opened for a page of exactly `size`, the bytes given to write();
// close() fails with a program error when another number came.
//
// A regular file, or a path that names none yet, is replaced all or nothing: the
// page goes into a new file in the same folder, readable by its owner alone until
// close() gives it the old page's mode, whose space is reserved before the first
// byte; close() closes it and reports what the close reports, and commit() puts it
// over the path. Whether it can be put there is decided when it is opened (a page
// in a folder whose sticky bit keeps the new file from replacing another user's is
// written in place instead), so the one failure left to commit() is one the file
// system makes on the way: the caller prints its last line first.
//
// POSIX: the new file has no name until commit() where Linux has unnamed files
// (given a hidden name just before the rename), so a run killed on the way leaves
// nothing behind, but for a SIGKILL between that link and the rename; elsewhere it
// is a hidden file from the start, which a stop signal (SIGINT, SIGTERM, SIGHUP)
// removes. The path's symbolic links are followed, so the file they lead to is
// replaced, keeping its mode and owner.
// Windows: the new file is created hidden and temporary, and marked for deletion
// on its last close by a second handle that keeps it until commit() clears the
// mark, so a run that ends any other way, killed included, leaves nothing behind,
// but for a kill between that and the rename. close() gives it the page's
// attributes and closes the descriptor written through, the last handle of its
// own, so what that close reports is known before the caller's last line. The old
// page must be one the user may delete, or it is written in place; a read-only
// page is refused, and one another program holds without sharing its deletion is
// waited for about two seconds, then refused as busy (EBUSY). commit() replaces
// the old page with ReplaceFileW, which keeps its attributes and ACL (MoveFileExW
// where there is none), trying a file another program holds again for about two
// seconds. ReplaceFileW moves the old page aside, under a backup name, and it is
// put back when the new one cannot take its place; where it cannot be, neither
// file is removed and the error names both. Ctrl-C, Ctrl-Break or a closed console
// wait for a commit under way, cut a page written in place as below and end the
// process with STATUS_CONTROL_C_EXIT.
//
// Anything else (a device such as /dev/null or NUL, a FIFO, a pipe, a terminal) is
// written in place, and so is an existing file in a folder where no new file can
// be made or put over it. That last case is not all or nothing: its space is
// reserved first without lengthening it, so a page that does not fit is refused
// while the old page is whole; a failure or a stop (a stop signal, or Ctrl-C or a
// closed console on Windows) before the first byte leaves the old page as it was
// and gives back the space reserved past it, and one after it leaves the file cut
// at the bytes written. Destroying a PageFile that was not committed removes the new
// file: the path is left as it was.
class PageFile : public Sink {
 public:
  PageFile(const std::string& path, TextSize size);
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile() override;

  void write(const char* data, std::size_t size) override;
  // Checks the byte count, gives the page the old file's permissions and closes
  // it; not in place yet, unless it was written in place.
  void close() override;
  // Puts the closed page in place, over the old file.
  void commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace qv::platform
