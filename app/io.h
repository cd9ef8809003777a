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
// into a new file in the same folder, whose space is reserved before the first
// byte, and commit() puts it over the path once close() has seen exactly `size`
// bytes. The new file has no name until commit() (an unnamed file, given a hidden
// name just before the rename), so a run killed on the way leaves nothing behind;
// where the file system or the kernel refuses unnamed files it is a hidden file
// from the start, which a stop signal (SIGINT, SIGTERM, SIGHUP) removes. The
// path's symbolic links are followed, so the file they lead to is replaced.
//
// Anything else (a device, a FIFO, a terminal) is written in place, and so is an
// existing file in a folder where no new file can be created. That last case is
// not all or nothing: the page is written over the old one, and a failure or a stop
// signal on the way leaves the file cut at the bytes written so far (its space is
// still reserved first, without lengthening it, so a page that does not fit is
// refused while the old page is whole). Destroying a PageFile that was not
// committed removes the new file and, replacing, leaves the path as it was.
class PageFile : public Sink {
 public:
  // Opens path for a page of exactly size bytes, reserving the space first.
  PageFile(const std::string& path, std::uint64_t size);
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;
  ~PageFile() override { discard(); }

  void write(const char* data, std::size_t size) override;
  // Checks the byte count, gives the page the old file's mode and owner, and
  // closes it; the page is not in place yet, unless it was written in place.
  void close() override;
  // Puts the closed page in place, over the old file.
  void commit();

  // Whether the new file is unnamed until commit(); tests turn it off to run the
  // named fallback where the file system would accept unnamed files.
  static inline bool tryUnnamed = true;

 private:
  void open();
  static constexpr int kNoUnnamedFiles = -1;
  int openUnnamed(const std::string& folder);
  int openNamed(const std::string& folder, const std::string& base);
  void openInPlace();
  void openOver(const std::string& target, const struct stat& old);
  void reserve(std::uint64_t alreadyHeld, bool keepSize);
  void discard() noexcept;

  enum class Mode { InPlace, Over, Unnamed, Named };
  std::string path_;  // as typed, for reports
  std::uint64_t size_;
  Mode mode_ = Mode::InPlace;
  int fd_ = -1;
  bool closed_ = false;
  std::uint64_t written_ = 0;
  std::string target_;  // the file the page replaces
  std::string hidden_;  // the new file's hidden name beside it, once it has one
  std::string base_;    // what hidden names are made of
  bool keepOwnerAndMode_ = false;
  unsigned oldMode_ = 0, oldUid_ = 0, oldGid_ = 0;
};

}  // namespace qv
