// The page's file on POSIX systems: a new file beside the page (unnamed until it
// is put in place, where Linux has unnamed files), its space reserved first,
// renamed over the old page; stop signals remove it.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "platform/platform.h"

namespace qv::platform {

namespace {

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
    if (hops == 40) throw Failure{"openFile", ELOOP};
    std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
    if (n < 0) throw Failure{"openFile", errno};
    target.resize(static_cast<std::size_t>(n));
    // A relative target is read from the link's own folder.
    at = target.starts_with('/') ? target : at.substr(0, at.rfind('/') + 1) + target;
  }
}

// A page size as a file offset: off_t is 64 bits wide (posix.cpp), but signed.
off_t fileOffset(std::uint64_t size) {
  if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    throw Failure{"writeFile", EFBIG};
  }
  return static_cast<off_t>(size);
}

}  // namespace

struct PageFile::State {
  void open();
  static constexpr int kNoUnnamedFiles = -1;
  int openUnnamed(const std::string& folder);
  int openNamed(const std::string& folder, const std::string& base);
  void openInPlace();
  void openOver(const std::string& target, const struct stat& old);
  void reserve(std::uint64_t alreadyHeld, bool keepSize);
  void close();
  void commit();
  void discard() noexcept;

  enum class Mode { InPlace, Over, Unnamed, Named };
  std::string path_;  // as given
  std::uint64_t size_ = 0;
  Mode mode_ = Mode::InPlace;
  int fd_ = -1;
  bool closed_ = false;
  std::string target_;  // the file the page replaces
  std::string hidden_;  // the new file's hidden name beside it, once it has one
  std::string base_;    // what hidden names are made of
  bool keepOwnerAndMode_ = false;
  unsigned oldMode_ = 0, oldUid_ = 0, oldGid_ = 0;
};

const bool PageFile::unnamedFiles = QUILTVIEW_LINUX_CALLS != 0;

PageFile::PageFile(const std::string& path, std::uint64_t size) : state_(new State) {
  state_->path_ = path;
  state_->size_ = size;
  try {
    state_->open();
  } catch (...) {
    state_->discard();
    throw;
  }
}

PageFile::~PageFile() {
  state_->discard();
}

void PageFile::write(const char* data, std::size_t size) {
  writeAll(state_->fd_, data, size);
}

void PageFile::close() {
  state_->close();
}

void PageFile::commit() {
  state_->commit();
}

void PageFile::State::open() {
  // A path that names no file ("", "dir/") is opened as given, and fails as always.
  const std::string target = path_.empty() || path_.ends_with('/') ? "" : followLinks(path_);
  if (target.empty()) return openInPlace();
  struct stat old {};
  const bool exists = ::lstat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) throw Failure{"openFile", errno};
  if (exists && !S_ISREG(old.st_mode)) return openInPlace();
  // The rename needs only the folder's permission; the user's own file says
  // whether they may replace it.
  if (exists && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    throw Failure{"openFile", errno};
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
    throw Failure{"openFile", error};
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
#if QUILTVIEW_LINUX_CALLS
    const int oldFd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (oldFd >= 0) {
      ::posix_fadvise(oldFd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(oldFd);
    }
#endif
  }
}

// An unnamed file in the folder, named only at commit(). Returns 0, the error of
// a folder that refuses new files, or kNoUnnamedFiles where the kernel or the file
// system has no unnamed files, or /proc, through which it is named, is missing.
int PageFile::State::openUnnamed([[maybe_unused]] const std::string& folder) {
#if !QUILTVIEW_LINUX_CALLS
  // Unnamed files are Linux's own.
  return kNoUnnamedFiles;
#else
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
#endif
}

// A hidden file beside the page, known to the stop signals' handler before it
// exists. Returns 0 or the error of the last attempt.
int PageFile::State::openNamed(const std::string& folder, const std::string& base) {
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
void PageFile::State::openOver(const std::string& target, const struct stat& old) {
  fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd_ < 0) throw Failure{"openFile", errno};
  try {
    reserve(static_cast<std::uint64_t>(old.st_blocks) * 512, true);
  } catch (const Failure&) {
    // Gives back what a reservation that failed half way took past the end.
    if (::ftruncate(fd_, old.st_size) != 0) {
    }
    throw;
  }
  mode_ = Mode::Over;
  fileToCut.store(fd_);
}

void PageFile::State::openInPlace() {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd_ < 0) throw Failure{"openFile", errno};
}

// fallocate proper, not posix_fallocate: where the file system cannot reserve,
// the C library's emulation writes the whole page once more. Without fallocate
// (another system) posix_fallocate reserves a new file's space; where it cannot,
// and for an old file written over, the file system's free space must hold the page.
void PageFile::State::reserve(std::uint64_t alreadyHeld, [[maybe_unused]] bool keepSize) {
  if (size_ == 0) return;
#if QUILTVIEW_LINUX_CALLS
  int result;
  do {
    result = ::fallocate(fd_, keepSize ? FALLOC_FL_KEEP_SIZE : 0, 0, fileOffset(size_));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return;
  if (errno != EOPNOTSUPP && errno != ENOSYS) throw Failure{"writeFile", errno};
#else
  // posix_fallocate lengthens the file: only for a new one.
  if (!keepSize) {
    int result;
    do {
      result = ::posix_fallocate(fd_, 0, fileOffset(size_));
    } while (result == EINTR);
    if (result == 0) return;
    if (result != EINVAL && result != EOPNOTSUPP) throw Failure{"writeFile", result};
  }
#endif
  struct statvfs fs {};
  if (::fstatvfs(fd_, &fs) != 0) return;  // nothing to compare with: try
  const std::uint64_t free = std::uint64_t{fs.f_bavail} * fs.f_frsize + alreadyHeld;
  if (size_ > free) throw Failure{"writeFile", ENOSPC};
}

void PageFile::State::close() {
  if (mode_ == Mode::Over) {
    // The old page may have been longer.
    if (::ftruncate(fd_, fileOffset(size_)) != 0) {
      throw Failure{"writeFile", errno};
    }
    fileToCut.store(-1);
  }
  if (keepOwnerAndMode_) {
    // Only root may give a file away; anyone else keeps the page as their own.
    if (::fchown(fd_, oldUid_, oldGid_) != 0) {
    }
    if (::fchmod(fd_, oldMode_) != 0) throw Failure{"writeFile", errno};
  }
  closed_ = true;
  // An unnamed file stays open: commit() names it through its descriptor.
  if (mode_ == Mode::Unnamed) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) throw Failure{"closeFile", errno};
}

void PageFile::State::commit() {
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
      throw Failure{"writeFile", error};
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw Failure{"closeFile", errno};
  }
  if (!hidden_.empty()) {
    if (::rename(hidden_.c_str(), target_.c_str()) != 0) {
      throw Failure{"writeFile", errno};
    }
    hidden_.clear();
  }
  releaseStopSignals();
}

void PageFile::State::discard() noexcept {
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

}  // namespace qv::platform
