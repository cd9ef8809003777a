// The platform layer: everything that differs by operating system (posix*.cpp or
// windows*.cpp, under shared.cpp). Every failure is an Error naming the path as typed
// (or "<stdout>", "<stderr>"), the failed operation and the system's description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/output.h"

namespace qv::platform {

// Sets the process up for a run (a closed pipe or a file size limit fails a write
// instead of raising a signal; on Windows, binary standard streams and a console
// shown UTF-8) and returns its arguments, program name first, as UTF-8.
std::vector<std::string> startProcess(int argc, char** argv);

// The CPU count this process may run threads on (its affinity), at least 1.
unsigned availableCpus();

// A large block of pages of its own, aligned for huge pages where the system has
// them; null when it has none to give. Freed with unmapLarge and the same size.
void* mapLarge(std::size_t bytes) noexcept;
void unmapLarge(void* p, std::size_t bytes) noexcept;

// An open descriptor, owned, as a Sink: every byte is written, close() reports what
// the close reports; name is the path shown in reports.
class FdSink : public Sink {
 public:
  FdSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  FdSink(FdSink&& other) noexcept : fd_(other.fd_), name_(std::move(other.name_)) {
    other.fd_ = -1;
  }
  ~FdSink() override;  // closes quietly where close() was not called

  void write(const char* data, std::size_t size) override;
  void close() override;
  // Whether the descriptor is a terminal (on Windows, a console).
  bool isTerminal() const;

 private:
  int fd_;
  std::string name_;
};

// The standard streams, named "<stdout>" and "<stderr>" in reports.
inline FdSink standardOutput() {
  return FdSink(1, "<stdout>");
}
inline FdSink standardError() {
  return FdSink(2, "<stderr>");
}

// The whole file, every byte as it is. A directory is refused (EISDIR): reading it
// must never look like an empty document.
Bytes readWholeFile(const std::string& path);

// The bytes a text of this size takes in the system's files, where a line end may
// take more than its line feed (CR LF on Windows).
std::uint64_t bytesInFile(TextSize size);

class PageSteps;  // how a system opens, writes and puts the page in place

// The page's file, for a page of exactly `size`. A regular file, or a path that names
// none, is replaced all or nothing by commit(), through a new file beside it whose
// space is reserved first. Anything else (a device, a pipe), or a file no new one can
// replace, is written in place, reserved without lengthening it: a failure or a stop
// before the first byte leaves the old page whole, one after it cuts the file there.
// Destroying an uncommitted PageFile removes the new file.
class PageFile : public Sink {
 public:
  PageFile(const std::string& path, TextSize size);
  // Over steps of the caller's choice (a test's, of another kind of new file).
  PageFile(const std::string& path, TextSize size, std::unique_ptr<PageSteps> steps);
  ~PageFile() override;

  void write(const char* data, std::size_t size) override;
  // Checks the byte count, gives the page the old file's permissions, closes it.
  void close() override;
  void commit();

 private:
  std::string path_;  // as typed, for reports
  std::uint64_t size_;
  std::uint64_t written_ = 0;
  bool closed_ = false;
  std::unique_ptr<PageSteps> steps_;
};

}  // namespace qv::platform
