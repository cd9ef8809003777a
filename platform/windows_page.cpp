// The page's file on Windows, opened by its wide name in binary mode (writeAll puts
// in the carriage returns). The new file is hidden and temporary, and marked for
// deletion on its last close by a second handle that keeps it until commit() clears
// the mark: a run that ends any other way, killed included, leaves nothing behind,
// but for a kill between that and the rename. The old page must be one the user may
// delete, or it is written in place; a read-only page is refused, and one another
// program holds without sharing its deletion is waited for, then refused as busy.
// commit() uses ReplaceFileW, which keeps the old page's attributes and ACL
// (MoveFileExW where there is none) and moves the old page aside under a backup
// name, put back when the new one cannot take its place; where it cannot be, the
// report names both files. Ctrl-C, Ctrl-Break or a closed console wait for a commit
// under way, cut a page written in place and end the process (STATUS_CONTROL_C_EXIT).
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/windows_internal.h"

namespace qv::platform {
namespace {

// Another program holding a file for a moment (a scanner, an indexer, a backup
// program) makes a step fail with a sharing or lock violation: the step is tried
// again, for about two seconds in all.
constexpr int kTries = 20;
constexpr DWORD kPauseMilliseconds = 100;

bool heldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Runs step until it succeeds (0) or fails other than by a file another program
// holds (the error it left). step returns whether it succeeded, its error in
// GetLastError().
template <typename Step>
DWORD retryWhileHeld(Step step) {
  for (int attempt = 1;; ++attempt) {
    if (step()) return 0;
    const DWORD error = ::GetLastError();
    if (!heldByAnother(error) || attempt == kTries) return error;
    ::Sleep(kPauseMilliseconds);
  }
}

// What a stop must undo before the process ends: a page written in place is cut
// where its new bytes end or, before the first, at its old length, which gives back
// the space reserved past it; the new file beside a page goes by itself. The
// handler runs on a thread of its own: the lock makes it wait for a write or a
// commit under way, so that it never cuts between the first bytes and the file
// position that counts them, nor ends the process while the old page is aside.
SRWLOCK stopLock = SRWLOCK_INIT;
HANDLE fileToCut = INVALID_HANDLE_VALUE;
LONGLONG lengthBeforeWriting = 0;

class StopGuard {
 public:
  StopGuard() { ::AcquireSRWLockExclusive(&stopLock); }
  ~StopGuard() { ::ReleaseSRWLockExclusive(&stopLock); }
  StopGuard(const StopGuard&) = delete;
  StopGuard& operator=(const StopGuard&) = delete;
};

// On the way out of a run that failed or stopped, with no one left to tell: what
// the calls report is left unread.
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
  ::AcquireSRWLockExclusive(&stopLock);
  if (fileToCut != INVALID_HANDLE_VALUE) cutWrittenInPlace(fileToCut, lengthBeforeWriting);
  // The status Windows' own handler ends an interrupted console program with; Wine's
  // ends it with 0, which would look like success. Handlers installed after this one
  // have run already.
  ::ExitProcess(STATUS_CONTROL_C_EXIT);
}

bool isDirectory(const std::wstring& name) {
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
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

// The folder part of a path: up to its last separator of either kind, or its
// drive ("C:x.html").
std::size_t folderEnd(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  if (cut != std::string::npos) return cut + 1;
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

class WindowsPage final : public PageSteps {
 public:
  ~WindowsPage() override;
  Outcome open(const std::string& path, std::uint64_t size) override;
  Outcome write(const char* data, std::size_t size, std::uint64_t& written) override;
  Outcome close() override;
  Outcome commit() override;

 private:
  Outcome createNewFile(const std::string& name);
  Outcome adopt(HANDLE h);
  Outcome openInPlace();
  Outcome openOver();
  Outcome reserve();

  enum class Mode { InPlace, Over, Named };
  std::string path_;  // UTF-8, as given
  std::uint64_t size_ = 0;
  Mode mode_ = Mode::InPlace;
  int fd_ = -1;
  bool exists_ = false;                   // the path names a file the page replaces
  DWORD oldAttributes_ = 0;               // of that file
  LONGLONG oldLength_ = 0;                // written over it: its length before
  std::string newFile_;                   // beside the page, until commit()
  HANDLE keeper_ = INVALID_HANDLE_VALUE;  // the new file's own handle, holding its deletion mark
};

Outcome WindowsPage::open(const std::string& path, std::uint64_t size) {
  path_ = path;
  size_ = size;
  handleConsoleStops();
  const std::wstring name = widen(path);
  // A path that names no file ("", "dir\") is opened as given, and fails as always.
  if (name.empty() || name.back() == L'/' || name.back() == L'\\') return openInPlace();
  if (isDirectory(name)) return Failure{"openFile", EISDIR};
  // Devices (NUL, CON) and pipes are written in place: anything that is no file
  // on a disk.
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
    // Replacing needs only the folder's permission; the file's own read-only
    // attribute says whether the user may replace it.
    oldAttributes_ = ::GetFileAttributesW(name.c_str());
    if (oldAttributes_ & FILE_ATTRIBUTE_READONLY) return Failure{"openFile", EACCES};
    // And the right to delete it, which another program holding it without
    // sharing its deletion takes away until it lets go: that is known now, not
    // after the page is written.
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

// The new file, with a second handle of its own that marks it for deletion on its
// last close. The writing handle becomes the C library's descriptor, which close()
// closes, so that its close reports before the caller says the page is written;
// the mark's handle keeps the file until commit().
Outcome WindowsPage::createNewFile(const std::string& name) {
  const std::wstring wide = widen(name);
  // A stop waits for the mark.
  const StopGuard guard;
  const HANDLE h =
      ::CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
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

// The handle as the C library's descriptor, which then owns it.
Outcome WindowsPage::adopt(HANDLE h) {
  fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd_ >= 0) return std::nullopt;
  ::CloseHandle(h);
  return Failure{"openFile", EMFILE};
}

// No new file can be made in the folder, or the old page may not be deleted, but
// the page itself may be written: it is written over the old one (see
// cutWrittenInPlace).
Outcome WindowsPage::openOver() {
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
    const StopGuard guard;
    fileToCut = h;
    lengthBeforeWriting = oldLength_;
  }
  return reserve();
}

Outcome WindowsPage::openInPlace() {
  const std::wstring name = widen(path_);
  fd_ = ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
  if (fd_ >= 0) return std::nullopt;
  const int error = errno;
  // Windows refuses to open a directory as a file, with "access denied".
  if (!name.empty() && isDirectory(name)) return Failure{"openFile", EISDIR};
  return Failure{"openFile", error};
}

// Allocates the page's bytes before the first is written (written over the old
// page, never fewer than it has, which would cut it); where the file system cannot,
// its free space must hold them.
Outcome WindowsPage::reserve() {
  if (size_ == 0) return std::nullopt;
  // Written over the old page, its bytes are the page's already.
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
  if (size_ > available.QuadPart + keepSize) return Failure{"writeFile", ENOSPC};
  return std::nullopt;
}

Outcome WindowsPage::write(const char* data, std::size_t size, std::uint64_t& written) {
  const StopGuard guard;
  return writeAll(fd_, data, size, written);
}

Outcome WindowsPage::close() {
  if (mode_ == Mode::Over) {
    const StopGuard guard;
    // The old page may have been longer.
    if (::_chsize_s(fd_, static_cast<__int64>(size_)) != 0) return Failure{"writeFile", errno};
    fileToCut = INVALID_HANDLE_VALUE;
  }
  if (keeper_ != INVALID_HANDLE_VALUE) {
    // The page's attributes, no longer those of a file being written.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        FILE_ATTRIBUTE_ARCHIVE |
        (exists_ ? oldAttributes_ & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                 : 0);
    if (!::SetFileInformationByHandle(keeper_, FileBasicInfo, &basic, sizeof basic)) {
      return failureOf("writeFile", ::GetLastError());
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (::_close(fd) != 0) return Failure{"closeFile", errno};
  return std::nullopt;
}

Outcome WindowsPage::commit() {
  if (newFile_.empty()) return std::nullopt;
  // A stop waits for the page to be in place, or not.
  const StopGuard guard;
  // The rename needs the file's last handle closed, and the file must outlive it.
  FILE_DISPOSITION_INFO keepIt{FALSE};
  if (!::SetFileInformationByHandle(keeper_, FileDispositionInfo, &keepIt, sizeof keepIt)) {
    return failureOf("writeFile", ::GetLastError());
  }
  ::CloseHandle(keeper_);
  keeper_ = INVALID_HANDLE_VALUE;
  const std::wstring to = fullName(path_);
  const std::wstring from = fullName(newFile_);
  // ReplaceFileW without a backup name may delete the old page before it fails to
  // move the new one in its place; with one, the old page is either where it was
  // or under the backup name.
  const std::string backupFile = newFile_ + ".old";
  const std::wstring backup = fullName(backupFile);
  // Once the old page is gone through no doing of another program, the new one is
  // the only copy: it stays, whatever happens.
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
      // The old page was moved aside, and the new one could not take its place: the
      // old one goes back. Where it cannot, neither file is touched again, and the
      // report says where both pages are.
      if (!::MoveFileExW(backup.c_str(), to.c_str(), 0)) {
        Failure failed = failureOf("writeFile", ::GetLastError());
        failed.where =
            path_ + " (old page now in " + backupFile + ", new page in " + newFile_ + ")";
        newFile_.clear();
        return failed;
      }
    } else if (exists_ && !fileExists(to)) {
      // The old page went meanwhile, or on the way: there is nothing to keep but the
      // new one.
      exists_ = false;
      onlyCopy = error != ERROR_FILE_NOT_FOUND;
      continue;
    }
    // ReplaceFileW opens the new file without sharing it and renames it: it fails
    // to move it mostly when another program has opened it meanwhile.
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

WindowsPage::~WindowsPage() {
  const StopGuard guard;
  if (mode_ == Mode::Over) fileToCut = INVALID_HANDLE_VALUE;
  if (fd_ >= 0) {
    // Written in place and not closed: cut where the new bytes end.
    if (mode_ == Mode::Over) cutWrittenInPlace(handleOf(fd_), oldLength_);
    ::_close(fd_);
  }
  // Marked for deletion: the new file goes with its last handle.
  if (keeper_ != INVALID_HANDLE_VALUE) ::CloseHandle(keeper_);
  // Unmarked, once commit() failed.
  if (!newFile_.empty()) {
    const std::wstring name = widen(newFile_);
    retryWhileHeld([&] { return ::DeleteFileW(name.c_str()) != 0; });
  }
}

}  // namespace

void handleConsoleStops() {
  static const bool installed = ::SetConsoleCtrlHandler(stopRun, TRUE) != 0;
  (void)installed;
}

std::unique_ptr<PageSteps> systemPageSteps() {
  return std::make_unique<WindowsPage>();
}

unsigned long processId() {
  return ::GetCurrentProcessId();
}

}  // namespace qv::platform
