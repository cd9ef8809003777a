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

#include "base/error.h"
#include "platform/platform.h"
#include "platform/posix_internal.h"

#if QUILTVIEW_LINUX_CALLS
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace qv::platform {

namespace {

// What a stop signal (Ctrl-C, SIGTERM, a hang-up) must undo before the process
// ends: the hidden file of the page being written, which must not stay behind with
// gigabytes reserved, or, written in place, the reservation past the old page's end
// and, once the first byte is written, the old page's bytes after the new ones.
std::atomic<const char*> newFileToRemove{nullptr};
std::atomic<int> fileToCut{-1};
std::atomic<off_t> lengthBeforeWriting{0};
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[std::size(kStopSignals)];
bool handlingStopSignals = false;

// Cuts a file written in place where its new bytes end, or, before the first, at
// its old length (which frees the space reserved past it). Async-signal-safe.
void cutWrittenInPlace(int fd, off_t oldLength) noexcept {
  const off_t written = ::lseek(fd, 0, SEEK_CUR);
  if (written < 0) return;
  if (::ftruncate(fd, written > 0 ? written : oldLength) != 0) {
  }
}

extern "C" void undoAndStop(int signal) {
  if (const char* path = newFileToRemove.load()) ::unlink(path);
  if (const int fd = fileToCut.load(); fd >= 0) cutWrittenInPlace(fd, lengthBeforeWriting.load());
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
// stands for an open descriptor: its text is no file name to replace. Where /proc
// is not mounted (a chroot, a small container) it is a plain folder of another
// file system, whose links are ordinary ones.
bool isDescriptorLink(const struct stat& link) {
  struct stat proc {};
  if (::lstat("/proc", &proc) != 0 || link.st_dev != proc.st_dev) return false;
#if QUILTVIEW_LINUX_CALLS
  struct statfs fs {};
  return ::statfs("/proc", &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
#else
  // Without the file system's type, a mount point: not on the device of "/".
  struct stat root {};
  return ::lstat("/", &root) == 0 && root.st_dev != proc.st_dev;
#endif
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
    const std::string target = readLink(at, path);
    // A relative target is read from the link's own folder.
    at = target.starts_with('/') ? target : at.substr(0, at.rfind('/') + 1) + target;
  }
}

// Whether a file the caller does not own, in a folder with the sticky bit, is
// kept from being replaced by a rename: only its owner, the folder's owner and a
// privileged process may remove or replace it there.
bool stickyKeepsFromReplacing(const std::string& folder, const struct stat& old) {
  struct stat dir {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &dir) != 0) return false;
  const uid_t me = ::geteuid();
  return (dir.st_mode & S_ISVTX) != 0 && me != 0 && old.st_uid != me && dir.st_uid != me;
}

}  // namespace

struct PageFile::State {
  void open();
  static constexpr int kNoUnnamedFiles = -1;
  int openUnnamed(const std::string& folder, unsigned permissions);
  int openNamed(const std::string& folder, unsigned permissions);
  void openInPlace();
  void openOver(const std::string& at, const struct stat& old);
  void reserve();
  void close();
  void commit();
  void discard() noexcept;
  [[noreturn]] void fail(const char* operation, int errnum) const {
    throw Error::io(path, operation, errnum);
  }
  // The page's size as a file offset: off_t is 64 bits wide (posix.cpp), but signed.
  off_t pageLength() const {
    if (size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      fail("writeFile", EFBIG);
    }
    return static_cast<off_t>(size);
  }

  enum class Mode { InPlace, Over, Unnamed, Named };
  std::string path;  // as typed, for reports
  std::uint64_t size = 0;
  std::uint64_t written = 0;
  Mode mode = Mode::InPlace;
  int fd = -1;
  bool closed = false;
  std::string target;  // the file the page replaces
  std::string hidden;  // the new file's hidden name beside it, once it has one
  std::string base;    // what hidden names are made of
  bool keepOwnerAndMode = false;
  unsigned oldMode = 0, oldUid = 0, oldGid = 0;
  off_t oldLength = 0;             // written in place: the old page's length
  std::uint64_t oldBytesHeld = 0;  // and the bytes of disk it holds
};

const bool unnamedFilesBuilt = QUILTVIEW_LINUX_CALLS != 0;
bool tryUnnamedFiles = true;

PageFile::PageFile(const std::string& path, TextSize size) : state_(new State) {
  state_->path = path;
  state_->size = bytesInFile(size);
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
  writeAll(state_->fd, data, size, state_->path);
  state_->written += size;
}

void PageFile::close() {
  state_->close();
}

void PageFile::commit() {
  state_->commit();
}

void PageFile::State::open() {
  // A path that names no file ("", "dir/") is opened as given, and fails as always.
  const std::string at = path.empty() || path.ends_with('/') ? "" : followLinks(path);
  if (at.empty()) return openInPlace();
  struct stat old {};
  const bool exists = ::lstat(at.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) fail("openFile", errno);
  if (exists && !S_ISREG(old.st_mode)) return openInPlace();
  // The rename needs only the folder's permission; the user's own file says
  // whether they may replace it.
  if (exists && ::faccessat(AT_FDCWD, at.c_str(), W_OK, AT_EACCESS) != 0) fail("openFile", errno);
  const std::size_t slash = at.rfind('/') + 1;  // 0 when there is none
  const std::string folder = at.substr(0, slash);
  if (exists && stickyKeepsFromReplacing(folder, old)) return openOver(at, old);
  base = at.substr(slash, 200);
  target = at;
  handleStopSignals();
  // Replacing, the new page is its owner's alone until it takes the old one's mode:
  // the old page may have been private.
  const unsigned permissions = exists ? 0600 : 0666;
  int error = openUnnamed(folder, permissions);
  if (error == kNoUnnamedFiles) error = openNamed(folder, permissions);
  if (error != 0) {
    if (exists && (error == EACCES || error == EPERM || error == EROFS)) return openOver(at, old);
    fail("openFile", error);
  }
  if (exists) {
    keepOwnerAndMode = true;
    oldMode = old.st_mode & 07777;
    oldUid = old.st_uid;
    oldGid = old.st_gid;
  }
  reserve();
  if (exists) {
    // The old page's cached pages would stay in memory until the rename, while
    // the new page takes as much again; what the machine took back meanwhile is
    // slow to get again. Dropping them changes nothing on the disk.
#if QUILTVIEW_LINUX_CALLS
    const int oldFd = ::open(at.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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
int PageFile::State::openUnnamed([[maybe_unused]] const std::string& folder,
                                 [[maybe_unused]] unsigned permissions) {
#if !QUILTVIEW_LINUX_CALLS
  // Unnamed files are Linux's own.
  return kNoUnnamedFiles;
#else
  if (!tryUnnamedFiles) return kNoUnnamedFiles;
  const int unnamed =
      ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions);
  if (unnamed < 0) {
    // Kernels without O_TMPFILE see a directory opened for writing (EISDIR).
    return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? kNoUnnamedFiles : errno;
  }
  if (::faccessat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(unnamed)).c_str(), F_OK,
                  AT_SYMLINK_NOFOLLOW) != 0) {
    ::close(unnamed);
    return kNoUnnamedFiles;
  }
  fd = unnamed;
  mode = Mode::Unnamed;
  return 0;
#endif
}

// A hidden file beside the page, known to the stop signals' handler before it
// exists. Returns 0 or the error of the last attempt.
int PageFile::State::openNamed(const std::string& folder, unsigned permissions) {
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    hidden = hiddenName(folder, base, entropy);
    newFileToRemove.store(hidden.c_str());
    fd = ::open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
    if (fd >= 0) break;
    const int error = errno;
    newFileToRemove.store(nullptr);  // the name is someone else's
    hidden.clear();
    if (error != EEXIST || attempt == 8) return error;
  }
  mode = Mode::Named;
  return 0;
}

// The page cannot be put over the old one, but the old one may be written: the
// page is written over it. Its space is reserved without lengthening the file, so
// that a page that does not fit is refused while the old page is still whole;
// until the first byte a failure gives back the reservation and leaves the old
// page as it was, after it the file is cut at the bytes written.
void PageFile::State::openOver(const std::string& at, const struct stat& old) {
  fd = ::open(at.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) fail("openFile", errno);
  mode = Mode::Over;
  oldLength = old.st_size;
  oldBytesHeld = static_cast<std::uint64_t>(old.st_blocks) * 512;
  lengthBeforeWriting.store(oldLength);
  fileToCut.store(fd);
  handleStopSignals();
  reserve();
}

void PageFile::State::openInPlace() {
  fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail("openFile", errno);
}

// Reserves the page's space before its first byte: a new file's, or, written over
// the old page, as much as the page needs without lengthening the file. fallocate
// proper, not posix_fallocate: where the file system cannot reserve, the C
// library's emulation writes the whole page once more. Without fallocate (another
// system) posix_fallocate reserves a new file's space; where it cannot, and for an
// old file written over, the file system's free space must hold the page.
void PageFile::State::reserve() {
  if (size == 0) return;
  [[maybe_unused]] const bool keepSize = mode == Mode::Over;
  const std::uint64_t alreadyHeld = keepSize ? oldBytesHeld : 0;
#if QUILTVIEW_LINUX_CALLS
  int result;
  do {
    result = ::fallocate(fd, keepSize ? FALLOC_FL_KEEP_SIZE : 0, 0, pageLength());
  } while (result != 0 && errno == EINTR);
  if (result == 0) return;
  if (errno != EOPNOTSUPP && errno != ENOSYS) fail("writeFile", errno);
#elif QUILTVIEW_HAVE_POSIX_FALLOCATE
  // posix_fallocate lengthens the file: only for a new one.
  if (!keepSize) {
    int result;
    do {
      result = ::posix_fallocate(fd, 0, pageLength());
    } while (result == EINTR);
    if (result == 0) return;
    if (result != EINVAL && result != EOPNOTSUPP) fail("writeFile", result);
  }
#endif
  struct statvfs fs {};
  // Nothing to compare with: try. A file system that counts no blocks at all
  // (ramfs, some FUSE ones) says nothing of its free space either.
  if (::fstatvfs(fd, &fs) != 0 || fs.f_blocks == 0) return;
  const std::uint64_t free = std::uint64_t{fs.f_bavail} * fs.f_frsize + alreadyHeld;
  if (size > free) fail("writeFile", ENOSPC);
}

void PageFile::State::close() {
  if (written != size) {
    throw Error::program("the page came to " + std::to_string(written) +
                         " bytes where its size said " + std::to_string(size));
  }
  if (mode == Mode::Over) {
    // The old page may have been longer.
    if (::ftruncate(fd, pageLength()) != 0) fail("writeFile", errno);
    fileToCut.store(-1);
  }
  if (keepOwnerAndMode) {
    // Only root may give a file away; anyone else keeps the page as their own.
    if (::fchown(fd, oldUid, oldGid) != 0) {
    }
    if (::fchmod(fd, oldMode) != 0) fail("writeFile", errno);
  }
  closed = true;
  if (mode == Mode::Unnamed) {
    // The unnamed file stays open: commit() names it through its descriptor. A
    // copy of the descriptor is closed now instead, which flushes and reports as
    // the last close would, so that a write error that a network file system
    // keeps until the close is known before the caller says the page is written.
    const int copy = ::dup(fd);
    if (copy < 0) fail("closeFile", errno);
    if (::close(copy) != 0) fail("closeFile", errno);
    return;
  }
  const int closing = fd;
  fd = -1;
  if (::close(closing) != 0) fail("closeFile", errno);
}

void PageFile::State::commit() {
  if (!closed) throw Error::program("the page was committed before it was closed");
  if (mode == Mode::Unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const std::size_t slash = target.rfind('/') + 1;
    std::random_device entropy;
    for (int attempt = 0;; ++attempt) {
      hidden = hiddenName(target.substr(0, slash), base, entropy);
      newFileToRemove.store(hidden.c_str());
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        break;
      }
      const int error = errno;
      newFileToRemove.store(nullptr);
      hidden.clear();
      if (error == EEXIST && attempt < 8) continue;
      fail("writeFile", error);
    }
    // What the close had to say, the close of the copy said.
    ::close(fd);
    fd = -1;
  }
  if (!hidden.empty()) {
    if (::rename(hidden.c_str(), target.c_str()) != 0) fail("writeFile", errno);
    hidden.clear();
  }
  releaseStopSignals();
}

void PageFile::State::discard() noexcept {
  if (fd >= 0) {
    if (mode == Mode::Over && !closed) cutWrittenInPlace(fd, oldLength);
    ::close(fd);
    fd = -1;
  }
  if (!hidden.empty()) {
    ::unlink(hidden.c_str());
    hidden.clear();
  }
  releaseStopSignals();
}

}  // namespace qv::platform
