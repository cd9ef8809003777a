// The page's file on POSIX systems: on Linux an unnamed file, named just before the
// rename; elsewhere a hidden one, which a stop signal removes. Links lead to the file
// replaced, which keeps its mode and owner; a sticky folder's may be written in place.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <system_error>
#include <utility>

#include "platform/shared.h"

#if QUILTVIEW_LINUX_CALLS
#include <linux/magic.h>
#include <sys/vfs.h>
#endif

namespace qv::platform {

namespace {

// What a stop signal must undo before the process ends: the new file, which must not
// stay behind with gigabytes reserved, or the page written in place (cut below).
std::atomic<const char*> newFileToRemove{nullptr};
std::atomic<int> fileToCut{-1};
std::atomic<off_t> lengthBeforeWriting{0};

// Cuts a file written in place where its new bytes end, or before the first at its
// old length (freeing the space reserved). Async-signal-safe; no one is left to tell.
void cutWrittenInPlace(int fd, off_t oldLength) noexcept {
  const off_t written = ::lseek(fd, 0, SEEK_CUR);
  [[maybe_unused]] const int cut =
      written < 0 ? -1 : ::ftruncate(fd, written > 0 ? written : oldLength);
}

extern "C" void undoAndStop(int signal) {
  if (const char* path = newFileToRemove.load()) ::unlink(path);
  if (const int fd = fileToCut.load(); fd >= 0) cutWrittenInPlace(fd, lengthBeforeWriting.load());
  ::raise(signal);  // the default action, back by SA_RESETHAND, ends the process
}

// Once, at the first page; a signal the caller ignores (nohup) or handles stays theirs.
void handleStopSignals() {
  [[maybe_unused]] static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = undoAndStop;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction previous {};
      ::sigaction(signal, nullptr, &previous);
      if (previous.sa_handler == SIG_DFL) ::sigaction(signal, &action, nullptr);
    }
    return true;
  }();
}

void nothingToUndo() {
  newFileToRemove.store(nullptr);
  fileToCut.store(-1);
}

// A link on the process file system (/dev/stdout, to /proc/self/fd/1) is an open
// descriptor, not a file to replace; where /proc is not mounted, an ordinary link.
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

// Sets at to where path's links lead (maybe nowhere yet), empty past a descriptor link.
int followLinks(const std::string& path, std::string& at) {
  at = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    if (isDescriptorLink(st)) {
      at.clear();
      return 0;
    }
    if (hops == 40) return ELOOP;
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(at, error).string();
    if (error) return error.value();
    // A relative target is read from the link's own folder.
    at = target.starts_with('/') ? target : at.substr(0, at.rfind('/') + 1) + target;
  }
}

// Whether the folder's sticky bit keeps a rename from replacing another user's file.
bool stickyKeepsFromReplacing(const std::string& folder, const struct stat& old) {
  struct stat dir {};
  if (::stat(folder.empty() ? "." : folder.c_str(), &dir) != 0) return false;
  const uid_t me = ::geteuid();
  return (dir.st_mode & S_ISVTX) != 0 && me != 0 && old.st_uid != me && dir.st_uid != me;
}

// Makes the new file under a name the stop signals' handler knows before it exists.
Outcome makeKnown(const std::string& name, const char* operation,
                  const std::function<bool()>& make) {
  newFileToRemove.store(name.c_str());
  if (make()) return std::nullopt;
  const int error = errno;
  newFileToRemove.store(nullptr);
  return Failure{operation, error};
}

class PosixPage final : public PageSteps {
 public:
  explicit PosixPage(bool tryUnnamed) : tryUnnamed_(tryUnnamed) {}

  ~PosixPage() override {
    if (fd_ >= 0) {
      if (mode_ == Mode::Over) cutWrittenInPlace(fd_, old_.st_size);
      ::close(fd_);
    }
    if (!hidden_.empty()) ::unlink(hidden_.c_str());
    nothingToUndo();
  }

  Outcome open(const std::string& path, std::uint64_t size) override {
    size_ = size;
    std::string at;
    // A path that names no file ("", "dir/") is opened as given, and fails as always.
    if (!path.empty() && !path.ends_with('/')) {
      if (const int error = followLinks(path, at)) return Failure{"openFile", error};
    }
    if (at.empty()) return openInPlace(path);
    const bool exists = ::lstat(at.c_str(), &old_) == 0;
    if (!exists && errno != ENOENT) return Failure{"openFile", errno};
    if (exists && !S_ISREG(old_.st_mode)) return openInPlace(path);
    // The rename needs only the folder's permission: the file says whether one may.
    if (exists && ::faccessat(AT_FDCWD, at.c_str(), W_OK, AT_EACCESS) != 0) {
      return Failure{"openFile", errno};
    }
    const std::size_t slash = at.rfind('/') + 1;  // 0 when there is none
    folder_ = at.substr(0, slash);
    if (exists && stickyKeepsFromReplacing(folder_, old_)) return openOver(at);
    base_ = at.substr(slash);
    target_ = at;
    handleStopSignals();
    // The new page is its owner's alone until it takes the old one's (maybe private) mode.
    if (Outcome failed = openNew(exists ? 0600 : 0666)) {
      const int error = failed->errnum;
      if (exists && (error == EACCES || error == EPERM || error == EROFS)) return openOver(at);
      return failed;
    }
    keepOwnerAndMode_ = exists;
    if (Outcome notReserved = reserve()) return notReserved;
#if QUILTVIEW_LINUX_CALLS
    // The old page's cached pages would stay in memory beside the new page's.
    if (const int oldFd = exists ? ::open(at.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
        oldFd >= 0) {
      ::posix_fadvise(oldFd, 0, 0, POSIX_FADV_DONTNEED);
      ::close(oldFd);
    }
#endif
    return std::nullopt;
  }

  Outcome write(const char* data, std::size_t size, std::uint64_t& written) override {
    return writeAll(fd_, data, size, written);
  }

  Outcome close() override {
    if (mode_ == Mode::Over) {
      // The old page may have been longer; reserve() checked that the size fits.
      if (::ftruncate(fd_, static_cast<off_t>(size_)) != 0) return Failure{"writeFile", errno};
      fileToCut.store(-1);
    }
    if (keepOwnerAndMode_) {
      // Only root may give a file away: anyone else keeps the page, no failure.
      [[maybe_unused]] const int given = ::fchown(fd_, old_.st_uid, old_.st_gid);
      if (::fchmod(fd_, old_.st_mode & 07777) != 0) return Failure{"writeFile", errno};
    }
    if (mode_ == Mode::Unnamed) {
      // commit() names the file through its descriptor; a copy's close reports in time
      // what the last close would (a network file system's write error).
      const int copy = ::dup(fd_);
      return copy < 0 || ::close(copy) != 0 ? Outcome(Failure{"closeFile", errno}) : std::nullopt;
    }
    const int closing = std::exchange(fd_, -1);
    return ::close(closing) != 0 ? Outcome(Failure{"closeFile", errno}) : std::nullopt;
  }

  Outcome commit() override {
    if (mode_ == Mode::Unnamed) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      Outcome failed = createHidden(folder_, base_, hidden_, [&](const std::string& name) {
        return makeKnown(name, "writeFile", [&] {
          return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        });
      });
      if (failed) return failed;
      ::close(fd_);  // what it had to say, the copy's close said
      fd_ = -1;
    }
    if (!hidden_.empty()) {
      if (::rename(hidden_.c_str(), target_.c_str()) != 0) return Failure{"writeFile", errno};
      hidden_.clear();
    }
    nothingToUndo();
    return std::nullopt;
  }

 private:
  // An unnamed file in the folder, or a hidden one where the kernel, the file system
  // or /proc (through which commit() names it) has none.
  Outcome openNew(unsigned permissions) {
#if QUILTVIEW_LINUX_CALLS
    if (tryUnnamed_) {
      const int fd = ::open(folder_.empty() ? "." : folder_.c_str(),
                            O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions);
      // Kernels without O_TMPFILE see a directory opened for writing (EISDIR).
      if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return Failure{"openFile", errno};
      }
      if (fd >= 0 && ::faccessat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), F_OK,
                                 AT_SYMLINK_NOFOLLOW) == 0) {
        fd_ = fd;
        mode_ = Mode::Unnamed;
        return std::nullopt;
      }
      if (fd >= 0) ::close(fd);
    }
#endif
    mode_ = Mode::Named;
    return createHidden(folder_, base_, hidden_, [&](const std::string& name) {
      return makeKnown(name, "openFile", [&] {
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, permissions);
        return fd_ >= 0;
      });
    });
  }

  // The page cannot replace the old one but may write over it (see cutWrittenInPlace).
  Outcome openOver(const std::string& at) {
    fd_ = ::open(at.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) return Failure{"openFile", errno};
    mode_ = Mode::Over;
    lengthBeforeWriting.store(old_.st_size);
    fileToCut.store(fd_);
    handleStopSignals();
    return reserve();
  }

  Outcome openInPlace(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ < 0 ? Outcome(Failure{"openFile", errno}) : std::nullopt;
  }

  // The page's space, not lengthening an old page written over: fallocate (glibc's
  // posix_fallocate writes where it cannot), posix_fallocate elsewhere, or free space.
  Outcome reserve() {
    if (size_ == 0) return std::nullopt;
    // off_t is 64 bits wide (posix.cpp), but signed.
    if (size_ > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
      return Failure{"writeFile", EFBIG};
    }
    [[maybe_unused]] const bool keepSize = mode_ == Mode::Over;
    [[maybe_unused]] const auto length = static_cast<off_t>(size_);
    int error = ENOSYS;  // what a system without a reservation says
#if QUILTVIEW_LINUX_CALLS
    const int flags = keepSize ? FALLOC_FL_KEEP_SIZE : 0;
    while ((error = ::fallocate(fd_, flags, 0, length) == 0 ? 0 : errno) == EINTR) {
    }
#elif QUILTVIEW_HAVE_POSIX_FALLOCATE
    // posix_fallocate lengthens the file: only for a new one.
    while (!keepSize && (error = ::posix_fallocate(fd_, 0, length)) == EINTR) {
    }
#endif
    if (error == 0) return std::nullopt;
    if (error != EOPNOTSUPP && error != ENOSYS && error != EINVAL)
      return Failure{"writeFile", error};
    struct statvfs fs {};
    // A file system that counts no blocks (ramfs, some FUSE ones) tells no free space.
    if (::fstatvfs(fd_, &fs) != 0 || fs.f_blocks == 0) return std::nullopt;
    const std::uint64_t held = keepSize ? static_cast<std::uint64_t>(old_.st_blocks) * 512 : 0;
    const bool fits = size_ <= std::uint64_t{fs.f_bavail} * fs.f_frsize + held;
    return fits ? std::nullopt : Outcome(Failure{"writeFile", ENOSPC});
  }

  enum class Mode { InPlace, Over, Unnamed, Named };
  [[maybe_unused]] const bool tryUnnamed_;  // used where unnamed files are built
  std::uint64_t size_ = 0;
  Mode mode_ = Mode::InPlace;
  int fd_ = -1;
  std::string target_;         // the file the page replaces
  std::string folder_, base_;  // its folder and name, for hidden names
  std::string hidden_;         // the new file's hidden name, once it has one
  bool keepOwnerAndMode_ = false;
  struct stat old_ {};  // the old page, when there is one
};

}  // namespace

const bool unnamedFilesBuilt = QUILTVIEW_LINUX_CALLS != 0;

std::unique_ptr<PageSteps> posixPageSteps(bool tryUnnamedFiles) {
  return std::make_unique<PosixPage>(tryUnnamedFiles);
}

std::unique_ptr<PageSteps> systemPageSteps() {
  return posixPageSteps(true);
}

}  // namespace qv::platform
