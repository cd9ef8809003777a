#include "app/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tree/error.h"
#include "tree/memory.h"

namespace qv {

std::string readWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Error::io(path, "openFile", errno);
  FdSink closer(fd, path);  // closes fd on every way out
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw Error::io(path, "openFile", errno);
  if (S_ISDIR(st.st_mode)) throw Error::io(path, "openFile", EISDIR);
  std::string text;
  // Regular files tell their size; pipes and devices are read until they end.
  std::size_t capacity = S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) + 1 : 1 << 16;
  text.reserve(capacity);
  adviseHugePages(text.data(), capacity);
  text.resize(capacity);
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(text.size() * 2);
    const ssize_t n = ::read(fd, text.data() + used, text.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error::io(path, "readFile", errno);
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  text.resize(used);
  return text;
}

FdSink FdSink::create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw Error::io(path, "openFile", errno);
  return FdSink(fd, path);
}

FdSink::~FdSink() {
  if (fd_ >= 0) ::close(fd_);
}

void FdSink::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error::io(name_, "writeFile", errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void FdSink::close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) throw Error::io(name_, "closeFile", errno);
}

}  // namespace qv
