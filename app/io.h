// The program's contact with the file system: reading the whole input, a Sink
// over a file descriptor, and the page's output file. Every failed call becomes
// an Error naming the path as the user typed it, the operation and the C
// library's description.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "base/output.h"

namespace qv {

// Reads the whole file as bytes. A directory is refused at open time: reading
// it must never look like an empty document.
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

// The page's file, opened for a page of a size known in advance. A regular file
// (or a path that does not exist yet) is replaced all or nothing: the page goes
// into a new hidden file beside it, whose space is reserved before the first
// byte, and close() renames it over the path once exactly `size` bytes came.
// The path's symbolic links are followed, so the file they lead to is replaced.
// Anything else (a device, a FIFO, a terminal) is written in place, and so is an
// existing file in a folder where no new file can be created. Destroying a
// PageFile that was not closed removes the new file and leaves the path as it was.
class PageFile : public Sink {
 public:
  // Opens path for a page of exactly size bytes, reserving the space first.
  PageFile(const std::string& path, std::uint64_t size);
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile() override { discard(); }

  void write(const char* data, std::size_t size) override;
  // Commits: checks the byte count, closes, and puts the page in place.
  void close() override;

  int fd() const { return fd_; }
  // A regular file with reserved() bytes allocated, so pieces can go to known offsets.
  bool seekable() const { return seekable_; }
  std::uint64_t reserved() const { return seekable_ ? size_ : 0; }

 private:
  void open();
  void openInPlace();
  void openOver(const std::string& target, const struct stat& old);
  void reserve(std::uint64_t alreadyHeld);
  void discard() noexcept;

  std::string path_;  // as typed, for reports
  std::uint64_t size_;
  int fd_ = -1;
  bool seekable_ = false;
  bool truncateAtEnd_ = false;  // an existing file written over in place
  std::uint64_t written_ = 0;
  std::string newFile_;  // the hidden file that close() renames; empty when in place
  std::string target_;   // the file it replaces
  bool keepOwnerAndMode_ = false;
  unsigned oldMode_ = 0, oldUid_ = 0, oldGid_ = 0;
};

}  // namespace qv
