#include "app/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>

#include "base/error.h"
#include "base/memory.h"

namespace qv {

namespace {

void writeAll(int fd, const char* data, std::size_t size, const std::string& name) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw Error::io(name, "writeFile", errno);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// What a stop signal (Ctrl-C, SIGTERM, a hang-up) must undo before the process
// ends: the hidden file of the page being written, which must not stay behind with
// gigabytes reserved, or, written in place, the old page's bytes after the new ones.
std::atomic<const char*> newFileToRemove{nullptr};
std::atomic<int> fileToCut{-1};
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[std::size(kStopSignals)];
bool handlingStopSignals = false;

extern "C" void undoAndStop(int signal) {
  if (const char* path = newFileToRemove.load()) ::unlink(path);
  if (const int fd = fileToCut.load(); fd >= 0) {
    const off_t written = ::lseek(fd, 0, SEEK_CUR);
    if (written >= 0 && ::ftruncate(fd, written) != 0) {
    }
  }
  // SA_RESETHAND restored the default action: the signal ends the process as
  // soon as this handler returns, with the status the sender expects.
  ::raise(signal);
}

void handleStopSignals() {
  if (handlingStopSignals) return;
  handlingStopSignals = true;
  struct sigaction action {};
  action.sa_handler = undoAndStop;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    ::sigaction(kStopSignals[i], nullptr, &previousActions[i]);
    // A signal the caller ignores (nohup) or handles itself stays theirs.
    if (previousActions[i].sa_handler == SIG_DFL) ::sigaction(kStopSignals[i], &action, nullptr);
  }
}

void releaseStopSignals() {
  newFileToRemove.store(nullptr);
  fileToCut.store(-1);
  if (!handlingStopSignals) return;
  handlingStopSignals = false;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    struct sigaction current {};
    ::sigaction(kStopSignals[i], nullptr, &current);
    if (current.sa_handler == undoAndStop) {
      ::sigaction(kStopSignals[i], &previousActions[i], nullptr);
    }
  }
}

// A hidden name beside the page's, no longer than a file name may be whatever the
// page's name is; random, so that two runs never pick the same.
std::string hiddenName(const std::string& folder, const std::string& base,
                       std::random_device& entropy) {
  char suffix[40];
  std::snprintf(suffix, sizeof suffix, ".%ld.%08x", static_cast<long>(::getpid()), entropy());
  return folder + "." + base + suffix;
}

// A link on the process file system (/dev/stdout leads to /proc/self/fd/1)
// stands for an open descriptor: its text is no file name to replace.
bool isDescriptorLink(const struct stat& link) {
  struct stat proc {};
  return ::lstat("/proc", &proc) == 0 && link.st_dev == proc.st_dev;
}

// The path the chain of symbolic links starting at path leads to, which may not
// exist yet; empty when the chain passes through a descriptor link.
std::string followLinks(const std::string& path) {
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    if (isDescriptorLink(st)) return {};
    if (hops == 40) throw Error::io(path, "openFile", ELOOP);
    std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
    if (n < 0) throw Error::io(path, "openFile", errno);
    target.resize(static_cast<std::size_t>(n));
    // A relative target is read from the link's own folder.
    at = target.starts_with('/') ? target : at.substr(0, at.rfind('/') + 1) + target;
  }
}

}  // namespace

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

FdSink::~FdSink() {
  if (fd_ >= 0) ::close(fd_);
}

void FdSink::write(const char* data, std::size_t size) {
  writeAll(fd_, data, size, name_);
}

void FdSink::close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0) throw Error::io(name_, "closeFile", errno);
}

PageFile::PageFile(const std::string& path, std::uint64_t size) : path_(path), size_(size) {
  try {
    open();
  } catch (...) {
    discard();
    throw;
  }
}

void PageFile::open() {
  // A path that names no file ("", "dir/") is opened as given, and fails as always.
  const std::string target = path_.empty() || path_.ends_with('/') ? "" : followLinks(path_);
  if (target.empty()) return openInPlace();
  struct stat old {};
  const bool exists = ::lstat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) throw Error::io(path_, "openFile", errno);
  if (exists && !S_ISREG(old.st_mode)) return openInPlace();
  // The rename needs only the folder's permission; the user's own file says
  // whether they may replace it.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    throw Error::io(path_, "openFile", errno);
  }
  const std::size_t slash = target.rfind('/') + 1;  // 0 when there is none
  const std::string folder = target.substr(0, slash);
  base_ = target.substr(slash, 200);
  target_ = target;
  handleStopSignals();
  int error = openUnnamed(folder);
  if (error == kNoUnnamedFiles) error = openNamed(folder, base_);
  if (error != 0) {
    if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
      return openOver(target, old);
    }
    throw Error::io(path_, "openFile", error);
  }
  if (exists) {
    keepOwnerAndMode_ = true;
    oldMode_ = old.st_mode & 07777;
    oldUid_ = old.st_uid;
    oldGid_ = old.st_gid;
  }
  reserve(0, false);
  if (exists) {
    // The old page's cached pages would stay in memory until the rename, while
    // the new page takes as much again; what the machine took back meanwhile is
    // slow to get again. Dropping them changes nothing on the disk.
    const int oldFd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (oldFd >= 0) {
      ::posix_fadvise(oldFd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(oldFd);
    }
  }
}

// An unnamed file in the folder, named only at commit(). Returns 0, the error of
// a folder that refuses new files, or kNoUnnamedFiles where the kernel or the file
// system has no unnamed files, or /proc, through which it is named, is missing.
int PageFile::openUnnamed(const std::string& folder) {
  if (!tryUnnamed) return kNoUnnamedFiles;
  const int fd =
      ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0) {
    // Kernels without O_TMPFILE see a directory opened for writing (EISDIR).
    return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoUnnamedFiles : errno;
  }
  if (::faccessat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK,
                  AT_SYMLINK_NOFOLLOW) != 0) {
    ::close(fd);
    return kNoUnnamedFiles;
  }
  fd_ = fd;
  mode_ = Mode::Unnamed;
  return 0;
}

// A hidden file beside the page, known to the stop signals' handler before it
// exists. Returns 0 or the error of the last attempt.
int PageFile::openNamed(const std::string& folder, const std::string& base) {
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    hidden_ = hiddenName(folder, base, entropy);
    newFileToRemove.store(hidden_.c_str());
    fd_ = ::open(hidden_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) break;
    const int error = errno;
    newFileToRemove.store(nullptr);  // the name is someone else's
    hidden_.clear();
    if (error != EEXIST || attempt == 8) return error;
  }
  mode_ = Mode::Named;
  return 0;
}

// No new file can be made in the folder, but the page itself may be written: it
// is written over the old one. Its space is reserved without lengthening the file,
// so that a page that does not fit is refused while the old page is still whole;
// from then on a failure leaves the file cut at the bytes written.
void PageFile::openOver(const std::string& target, const struct stat& old) {
  fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) throw Error::io(path_, "openFile", errno);
  try {
    reserve(static_cast<std::uint64_t>(old.st_blocks) * 512, true);
  } catch (const Error&) {
    // Gives back what a reservation that failed half way took past the end.
    if (::ftruncate(fd_, old.st_size) != 0) {
    }
    throw;
  }
  mode_ = Mode::Over;
  fileToCut.store(fd_);
}

void PageFile::openInPlace() {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw Error::io(path_, "openFile", errno);
}

// fallocate proper, not posix_fallocate: where the file system cannot reserve,
// the C library's emulation writes the whole page once more.
void PageFile::reserve(std::uint64_t alreadyHeld, bool keepSize) {
  if (size_ == 0) return;
  int result;
  do {
    result = ::fallocate(fd_, keepSize ? FALLOC_FL_KEEP_SIZE : 0, 0, static_cast<off_t>(size_));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return;
  if (errno != EOPNOTSUPP && errno != ENOSYS) throw Error::io(path_, "writeFile", errno);
  struct statvfs fs {};
  if (::fstatvfs(fd_, &fs) != 0) return;  // nothing to compare with: try
  const std::uint64_t free = std::uint64_t{fs.f_bavail} * fs.f_frsize + alreadyHeld;
  if (size_ > free) throw Error::io(path_, "writeFile", ENOSPC);
}

void PageFile::write(const char* data, std::size_t size) {
  writeAll(fd_, data, size, path_);
  written_ += size;
}

void PageFile::close() {
  if (written_ != size_) {
    throw Error::program("the page came to " + std::to_string(written_) +
                         " bytes where its size said " + std::to_string(size_));
  }
  if (mode_ == Mode::Over) {
    // The old page may have been longer.
    if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) {
      throw Error::io(path_, "writeFile", errno);
    }
    fileToCut.store(-1);
  }
  if (keepOwnerAndMode_) {
    // Only root may give a file away; anyone else keeps the page as their own.
    if (::fchown(fd_, oldUid_, oldGid_) != 0) {
    }
    if (::fchmod(fd_, oldMode_) != 0) throw Error::io(path_, "writeFile", errno);
  }
  closed_ = true;
  // An unnamed file stays open: commit() names it through its descriptor.
  if (mode_ == Mode::Unnamed) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Error::io(path_, "closeFile", errno);
}

void PageFile::commit() {
  if (!closed_) throw Error::program("the page was committed before it was closed");
  if (mode_ == Mode::Unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const std::size_t slash = target_.rfind('/') + 1;
    std::random_device entropy;
    for (int attempt = 0;; ++attempt) {
      hidden_ = hiddenName(target_.substr(0, slash), base_, entropy);
      newFileToRemove.store(hidden_.c_str());
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        break;
      }
      const int error = errno;
      newFileToRemove.store(nullptr);
      hidden_.clear();
      if (error == EEXIST && attempt < 8) continue;
      throw Error::io(path_, "writeFile", error);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw Error::io(path_, "closeFile", errno);
  }
  if (!hidden_.empty()) {
    if (::rename(hidden_.c_str(), target_.c_str()) != 0) {
      throw Error::io(path_, "writeFile", errno);
    }
    hidden_.clear();
  }
  releaseStopSignals();
}

void PageFile::discard() noexcept {
  if (fd_ >= 0) {
    if (mode_ == Mode::Over && !closed_) {
      const off_t written = ::lseek(fd_, 0, SEEK_CUR);
      if (written >= 0 && ::ftruncate(fd_, written) != 0) {
      }
    }
    ::close(fd_);
    fd_ = -1;
  }
  if (!hidden_.empty()) {
    ::unlink(hidden_.c_str());
    hidden_.clear();
  }
  releaseStopSignals();
}

}  // namespace qv
