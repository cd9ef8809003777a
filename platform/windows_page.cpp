// The page's file on Windows: a hidden, temporary file marked for deletion until
// commit(), so that a run ended any other way (killed too) leaves nothing; ReplaceFileW
// keeps the old page's attributes and ACL. An old page the user may not delete is
// written in place, a read-only one refused, one another program holds waited for.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>

#include "platform/windows_internal.h"

namespace qv::platform {
namespace {

// A file another program holds for a moment (a scanner, a backup): tried for 2 seconds.
constexpr int kTries = 20;
constexpr DWORD kPauseMilliseconds = 100;

bool heldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Tries step (false: see GetLastError()) while the file is held: 0, or the last error.
template <typename Step>
DWORD retryWhileHeld(Step step) {
  for (int attempt = 1;; ++attempt) {
    if (step()) return 0;
    const DWORD error = ::GetLastError();
    if (!heldByAnother(error) || attempt == kTries) return error;
    ::Sleep(kPauseMilliseconds);
  }
}

// A stop's handler runs on a thread of its own: the lock makes it wait for a write or
// a commit under way, so it never cuts uncounted bytes nor leaves the old page aside.
std::mutex stopLock;
HANDLE fileToCut = INVALID_HANDLE_VALUE;
LONGLONG lengthBeforeWriting = 0;
using StopGuard = std::lock_guard<std::mutex>;

// Cuts a page written in place where its new bytes end, or before the first at its
// old length (freeing the space reserved). No one is left to tell of a failure.
void cutWrittenInPlace(HANDLE file, LONGLONG oldLength) noexcept {
  LARGE_INTEGER written{};
  if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &written, FILE_CURRENT)) return;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = written.QuadPart > 0 ? written.QuadPart : oldLength;
  (void)::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize = end.EndOfFile;
  (void)::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation);
}

BOOL WINAPI stopRun(DWORD) {
  stopLock.lock();  // held to the end: the process ends with it
  if (fileToCut != INVALID_HANDLE_VALUE) cutWrittenInPlace(fileToCut, lengthBeforeWriting);
  // Windows' own status for an interrupted console program (Wine's handler gives 0).
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool fileExists(const std::wstring& name) {
  return ::GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HANDLE handleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The absolute name: ReplaceFileW of a name without a folder fails under Wine.
std::wstring fullName(const std::string& path) {
  const std::wstring name = widen(path);
  const DWORD needed = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return name;
  std::wstring full(needed, L'\0');
  full.resize(::GetFullPathNameW(name.c_str(), needed, full.data(), nullptr));
  return full;
}

// The folder part of a path: to its last separator of either kind, or its drive.
std::size_t folderEnd(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  if (cut != std::string::npos) return cut + 1;
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

class WindowsPage final : public PageSteps {
 public:
  ~WindowsPage() override {
    const StopGuard guard(stopLock);
    if (mode_ == Mode::Over) fileToCut = INVALID_HANDLE_VALUE;
    if (fd_ >= 0) {
      if (mode_ == Mode::Over) cutWrittenInPlace(handleOf(fd_), oldLength_);
      ::_close(fd_);
    }
    // Marked for deletion, the new file goes with its last handle; unmarked once
    // commit() failed, it is deleted.
    if (keeper_ != INVALID_HANDLE_VALUE) ::CloseHandle(keeper_);
    if (!newFile_.empty()) {
      const std::wstring name = widen(newFile_);
      retryWhileHeld([&] { return ::DeleteFileW(name.c_str()) != 0; });
    }
  }

  Outcome open(const std::string& path, std::uint64_t size) override {
    path_ = path;
    size_ = size;
    handleConsoleStops();
    const std::wstring name = widen(path);
    // A path that names no file ("", "dir\") is opened as given, and fails as always.
    if (name.empty() || name.back() == L'/' || name.back() == L'\\') return openInPlace();
    if (isDirectory(name)) return Failure{"openFile", EISDIR};
    // Anything that is no file on a disk (NUL, CON, pipes) is written in place.
    const HANDLE probe =
        ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
      const DWORD type = ::GetFileType(probe);
      ::CloseHandle(probe);
      if (type != FILE_TYPE_DISK) return openInPlace();
      exists_ = true;
    } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND) {
      return failureOf("openFile", error);
    }
    if (exists_) {
      // Replacing needs only the folder's permission: the read-only attribute says whether
      // one may, and the right to delete (which a holder takes away) is known now.
      oldAttributes_ = ::GetFileAttributesW(name.c_str());
      if (oldAttributes_ & FILE_ATTRIBUTE_READONLY) return Failure{"openFile", EACCES};
      const DWORD error = retryWhileHeld([&] {
        const HANDLE h = ::CreateFileW(name.c_str(), DELETE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(h);
        return true;
      });
      if (error == ERROR_ACCESS_DENIED) return openOver();
      if (error == ERROR_FILE_NOT_FOUND) {
        exists_ = false;
      } else if (error != 0) {
        return failureOf("openFile", error);
      }
    }
    const std::size_t slash = folderEnd(path);
    Outcome failed = createHidden(path.substr(0, slash), path.substr(slash), newFile_,
                                  [&](const std::string& name) { return createNewFile(name); });
    if (failed && exists_ && failed->errnum == EACCES) return openOver();
    if (failed) return failed;
    mode_ = Mode::Named;
    return reserve();
  }

  Outcome write(const char* data, std::size_t size, std::uint64_t& written) override {
    const StopGuard guard(stopLock);
    return writeAll(fd_, data, size, written);
  }

  Outcome close() override {
    if (mode_ == Mode::Over) {
      const StopGuard guard(stopLock);  // the old page may have been longer
      if (::_chsize_s(fd_, static_cast<__int64>(size_)) != 0) return Failure{"writeFile", errno};
      fileToCut = INVALID_HANDLE_VALUE;
    }
    if (keeper_ != INVALID_HANDLE_VALUE) {
      FILE_BASIC_INFO basic{};  // no longer those of a file being written
      basic.FileAttributes =
          FILE_ATTRIBUTE_ARCHIVE |
          (exists_ ? oldAttributes_ & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                   : 0);
      if (!::SetFileInformationByHandle(keeper_, FileBasicInfo, &basic, sizeof basic)) {
        return failureOf("writeFile", ::GetLastError());
      }
    }
    return ::_close(std::exchange(fd_, -1)) != 0 ? Outcome(Failure{"closeFile", errno})
                                                 : std::nullopt;
  }

  Outcome commit() override {
    if (newFile_.empty()) return std::nullopt;
    const StopGuard guard(stopLock);  // a stop waits for the page to be in place, or not
    // The rename needs the file's last handle closed, and the file must outlive it.
    FILE_DISPOSITION_INFO keepIt{FALSE};
    if (!::SetFileInformationByHandle(keeper_, FileDispositionInfo, &keepIt, sizeof keepIt)) {
      return failureOf("writeFile", ::GetLastError());
    }
    ::CloseHandle(keeper_);
    keeper_ = INVALID_HANDLE_VALUE;
    const std::wstring to = fullName(path_);
    const std::wstring from = fullName(newFile_);
    // Without a backup, ReplaceFileW may delete the old page and then fail to move the
    // new one; once the old page is gone, the new one stays whatever happens.
    const std::string backupFile = newFile_ + ".old";
    const std::wstring backup = fullName(backupFile);
    bool onlyCopy = false;
    for (int attempt = 1;; ++attempt) {
      if (!exists_) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
      } else if (::ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(),
                                REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        ::DeleteFileW(backup.c_str());
        break;
      }
      const DWORD error = ::GetLastError();
      if (exists_ && fileExists(backup)) {
        // The old page was moved aside and the new one could not take its place: the old
        // one goes back, or, where it cannot, the report says where both pages are.
        if (!::MoveFileExW(backup.c_str(), to.c_str(), 0)) {
          Failure failed = failureOf("writeFile", ::GetLastError());
          failed.where =
              path_ + " (old page now in " + backupFile + ", new page in " + newFile_ + ")";
          newFile_.clear();
          return failed;
        }
      } else if (exists_ && !fileExists(to)) {
        // The old page went meanwhile, or on the way: only the new one is left.
        exists_ = false;
        onlyCopy = error != ERROR_FILE_NOT_FOUND;
        continue;
      }
      // ReplaceFileW fails to move the new file mostly when another program opened it.
      const bool held = heldByAnother(error) || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT ||
                        error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
      if (held && attempt < kTries) {
        ::Sleep(kPauseMilliseconds);
        continue;
      }
      Failure failed = held ? Failure{"writeFile", EBUSY} : failureOf("writeFile", error);
      if (onlyCopy) {
        failed.where = path_ + " (new page in " + newFile_ + ")";
        newFile_.clear();
      }
      return failed;
    }
    newFile_.clear();
    return std::nullopt;
  }

 private:
  // The new file and the handle of its deletion mark; the writing handle's close in
  // close() reports before the caller's last line.
  Outcome createNewFile(const std::string& name) {
    const std::wstring wide = widen(name);
    const StopGuard guard(stopLock);  // a stop waits for the mark
    const HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (h == INVALID_HANDLE_VALUE) return failureOf("openFile", ::GetLastError());
    keeper_ = ::CreateFileW(wide.c_str(), DELETE | FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILE_DISPOSITION_INFO deleteIt{TRUE};
    if (keeper_ == INVALID_HANDLE_VALUE ||
        !::SetFileInformationByHandle(keeper_, FileDispositionInfo, &deleteIt, sizeof deleteIt)) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(h);
      if (keeper_ != INVALID_HANDLE_VALUE) ::CloseHandle(keeper_);
      keeper_ = INVALID_HANDLE_VALUE;
      ::DeleteFileW(wide.c_str());
      return failureOf("openFile", error);
    }
    return adopt(h);
  }

  // The handle as the C library's descriptor, its owner.
  Outcome adopt(HANDLE h) {
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd_ >= 0) return std::nullopt;
    ::CloseHandle(h);
    return Failure{"openFile", EMFILE};
  }

  Outcome openInPlace() {
    const std::wstring name = widen(path_);
    fd_ = ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
    if (fd_ >= 0) return std::nullopt;
    // Windows refuses to open a directory as a file, with "access denied".
    const int error = errno;
    return Failure{"openFile", !name.empty() && isDirectory(name) ? EISDIR : error};
  }

  // The page cannot replace the old one but may write over it (see cutWrittenInPlace).
  Outcome openOver() {
    const std::wstring name = widen(path_);
    HANDLE h = INVALID_HANDLE_VALUE;
    const DWORD error = retryWhileHeld([&] {
      h = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      return h != INVALID_HANDLE_VALUE;
    });
    if (error != 0) return failureOf("openFile", error);
    if (Outcome failed = adopt(h)) return failed;
    LARGE_INTEGER old{};
    if (!::GetFileSizeEx(h, &old)) return failureOf("openFile", ::GetLastError());
    oldLength_ = old.QuadPart;
    mode_ = Mode::Over;
    {
      const StopGuard guard(stopLock);
      fileToCut = h;
      lengthBeforeWriting = oldLength_;
    }
    return reserve();
  }

  // The page's bytes before the first (over the old page, never fewer than it has);
  // where the file system cannot, its free space must hold them.
  Outcome reserve() {
    if (size_ == 0) return std::nullopt;
    const std::uint64_t keepSize = mode_ == Mode::Over ? static_cast<std::uint64_t>(oldLength_) : 0;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(std::max(size_, keepSize));
    if (::SetFileInformationByHandle(handleOf(fd_), FileAllocationInfo, &allocation,
                                     sizeof allocation)) {
      return std::nullopt;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
        error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED) {
      return failureOf("writeFile", error);
    }
    const std::size_t slash = folderEnd(path_);
    const std::wstring folder = slash == 0 ? std::wstring(L".") : widen(path_.substr(0, slash));
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    const bool fits = size_ <= available.QuadPart + keepSize;
    return fits ? std::nullopt : Outcome(Failure{"writeFile", ENOSPC});
  }

  enum class Mode { InPlace, Over, Named };
  std::string path_;
  std::uint64_t size_ = 0;
  Mode mode_ = Mode::InPlace;
  int fd_ = -1;
  bool exists_ = false;                   // the path names a file the page replaces
  DWORD oldAttributes_ = 0;               // of that file
  LONGLONG oldLength_ = 0;                // written over it: its length before
  std::string newFile_;                   // until commit()
  HANDLE keeper_ = INVALID_HANDLE_VALUE;  // holds the new file's deletion mark
};

}  // namespace

void handleConsoleStops() {
  [[maybe_unused]] static const bool installed = ::SetConsoleCtrlHandler(stopRun, TRUE) != 0;
}

std::unique_ptr<PageSteps> systemPageSteps() {
  return std::make_unique<WindowsPage>();
}

}  // namespace qv::platform
