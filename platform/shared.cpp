#include "platform/shared.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <random>
#include <utility>

#include "platform/platform.h"

namespace qv::platform {

FdSink::~FdSink() {
  if (fd_ >= 0) closeFd(fd_);
}

void FdSink::write(const char* data, std::size_t size) {
  std::uint64_t written = 0;
  if (Outcome failed = writeAll(fd_, data, size, written)) throw failed->error(name_);
}

void FdSink::close() {
  const int fd = std::exchange(fd_, -1);
  if (const int error = fd >= 0 ? closeFd(fd) : 0) throw Error::io(name_, "closeFile", error);
}

bool FdSink::isTerminal() const {
  return fd_ >= 0 && isTerminalFd(fd_);
}

Bytes readWholeFile(const std::string& path) {
  std::int64_t size = -1;
  const int fd = openToRead(path, size);
  if (fd < 0) throw Error::io(path, "openFile", -fd);
  struct Closer {
    int fd;
    ~Closer() { closeFd(fd); }
  } closer{fd};
  // Room for the size a file tells, doubled whenever it fills; a size past what
  // memory holds (2 GB on a 32-bit system) is refused before it wraps.
  constexpr auto kMost = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());
  if (size >= 0 && static_cast<std::uint64_t>(size) >= kMost) {
    throw Error::io(path, "readFile", ENOMEM);
  }
  Bytes text;
  text.reserve(size >= 0 ? static_cast<std::size_t>(size) + 1 : 1 << 16);
  adviseHugePages(text.data(), text.capacity());
  for (std::size_t used = 0;;) {
    if (used == text.capacity()) {
      if (used == kMost) throw Error::io(path, "readFile", ENOMEM);
      text.reserve(used <= kMost / 2 ? used * 2 : kMost);
    }
    const std::int64_t n = readSome(fd, text.data() + used, text.capacity() - used);
    if (n < 0) throw Error::io(path, "readFile", static_cast<int>(-n));
    if (n == 0) {
      text.resize(used);
      return text;
    }
    used += static_cast<std::size_t>(n);
  }
}

Outcome createHidden(const std::string& folder, const std::string& base, std::string& name,
                     const std::function<Outcome(const std::string&)>& create) {
  // Random, so that two runs never pick the same; short enough for any page's name.
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%lu.%08x", processId(), entropy());
    name = folder + "." + base.substr(0, 200) + suffix;
    Outcome failed = create(name);
    if (!failed) return failed;
    name.clear();
    if (failed->errnum != EEXIST || attempt == 8) return failed;
  }
}

// A failed open leaves nothing behind: the steps, destroyed, undo what they did.
PageFile::PageFile(const std::string& path, TextSize size, std::unique_ptr<PageSteps> steps)
    : path_(path), size_(bytesInFile(size)), steps_(std::move(steps)) {
  if (Outcome failed = steps_->open(path_, size_)) throw failed->error(path_);
}

PageFile::PageFile(const std::string& path, TextSize size)
    : PageFile(path, size, systemPageSteps()) {}

PageFile::~PageFile() = default;

void PageFile::write(const char* data, std::size_t size) {
  if (Outcome failed = steps_->write(data, size, written_)) throw failed->error(path_);
}

void PageFile::close() {
  if (written_ != size_) {
    throw Error::program("the page came to " + std::to_string(written_) +
                         " bytes where its size said " + std::to_string(size_));
  }
  if (Outcome failed = steps_->close()) throw failed->error(path_);
  closed_ = true;
}

void PageFile::commit() {
  if (!closed_) throw Error::program("the page was committed before it was closed");
  if (Outcome failed = steps_->commit()) throw failed->error(path_);
}

}  // namespace qv::platform
