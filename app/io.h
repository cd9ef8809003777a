// The program's contact with the file system: reading the whole input and a
// Sink over a file descriptor. Every failed call becomes an Error naming the
// path, the operation and the C library's description.
#pragma once

#include <string>

#include "tree/output.h"

namespace qv {

// Reads the whole file as bytes. A directory is refused at open time: reading
// it must never look like an empty document.
std::string readWholeFile(const std::string& path);

class FdSink : public Sink {
 public:
  // Takes ownership of fd; name is the path shown in error reports.
  FdSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  // Creates or truncates path for writing.
  static FdSink create(const std::string& path);
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

}  // namespace qv
