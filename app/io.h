// The program's contact with the file system: reading the whole input, a Sink
// over a file descriptor, and the page's output file. Every failed call becomes
// an Error naming the path as the user typed it, the operation and the C
// library's description. What differs by system is the platform layer's.
#pragma once

#include <cstdint>
#include <string>

#include "base/output.h"
#include "platform/platform.h"

namespace qv {

// Reads the whole file as bytes, in binary mode. A directory is refused at open
// time: reading it must never look like an empty document.
std::string readWholeFile(const std::string& path);

class FdSink : public Sink {
 public:
  // Takes ownership of fd; name is the path shown in error reports.
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

 private:
  int fd_;
  std::string name_;
};

// The page's file, opened for a page of a size known in advance, in bytes as they
// reach the file (platform::PageFile says how it is replaced, written in place or
// left as it was). close() checks that exactly `size` bytes came.
class PageFile : public Sink {
 public:
  // Opens path for a page of exactly size bytes, reserving the space first.
  PageFile(const std::string& path, std::uint64_t size);

  void write(const char* data, std::size_t size) override;
  // Checks the byte count, gives the page the old file's permissions, and closes
  // it; the page is not in place yet, unless it was written in place.
  void close() override;
  // Puts the closed page in place, over the old file.
  void commit();

  // Whether the new file is unnamed until commit(); tests turn it off to run the
  // named fallback where the file system would accept unnamed files.
  static inline bool& tryUnnamed = platform::PageFile::tryUnnamed;

 private:
  std::string path_;  // as typed, for reports
  std::uint64_t size_;
  std::uint64_t written_ = 0;
  bool closed_ = false;
  platform::PageFile file_;
};

}  // namespace qv
