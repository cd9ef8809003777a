#include "app/io.h"

#include <algorithm>

#include "base/error.h"

namespace qv {

namespace {

[[noreturn]] void report(const std::string& path, const platform::Failure& f) {
  throw Error::io(path, f.operation, f.errnum);
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  try {
    return platform::readWholeFile(path);
  } catch (const platform::Failure& f) {
    report(path, f);
  }
}

FdSink::~FdSink() {
  if (fd_ >= 0) platform::closeQuietly(fd_);
}

void FdSink::write(const char* data, std::size_t size) {
  try {
    platform::writeAll(fd_, data, size);
  } catch (const platform::Failure& f) {
    report(name_, f);
  }
}

void FdSink::close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd < 0) return;
  try {
    platform::closeFile(fd);
  } catch (const platform::Failure& f) {
    report(name_, f);
  }
}

PageFile::PageFile(const std::string& path, std::uint64_t size) try
    : path_(path), size_(size), file_(path, size) {
} catch (const platform::Failure& f) {
  report(path, f);
}

void PageFile::write(const char* data, std::size_t size) {
  try {
    file_.write(data, size);
  } catch (const platform::Failure& f) {
    report(path_, f);
  }
  written_ += size;
  if constexpr (platform::kLineEndBytes > 1) {
    // Each line feed reaches the file as a line end of several bytes.
    written_ += (platform::kLineEndBytes - 1) *
                static_cast<std::uint64_t>(std::count(data, data + size, '\n'));
  }
}

void PageFile::close() {
  if (written_ != size_) {
    throw Error::program("the page came to " + std::to_string(written_) +
                         " bytes where its size said " + std::to_string(size_));
  }
  try {
    file_.close();
  } catch (const platform::Failure& f) {
    report(path_, f);
  }
  closed_ = true;
}

void PageFile::commit() {
  if (!closed_) throw Error::program("the page was committed before it was closed");
  try {
    file_.commit();
  } catch (const platform::Failure& f) {
    report(path_, f);
  }
}

}  // namespace qv
