// The page's file on Windows: a new file beside the page, opened by its wide name
// in binary mode (writeAll puts in the carriage returns) and marked for deletion
// until the commit, so that it goes with the process however the run ends; its
// space reserved first; put over the old page with ReplaceFileW (which keeps the
// old file's attributes and ACL) or MoveFileExW.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "base/error.h"
#include "platform/platform.h"
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

// What a stop (Ctrl-C, Ctrl-Break, a closed console) must undo before the process
// ends: a page written in place is cut where its new bytes end or, before the
// first, at its old length, which gives back the space reserved past it. The new
// file beside a page needs nothing: it is marked for deletion until the commit.
// The handler runs on a thread of its own; the lock makes it wait for a write or a
// commit under way, so that it never cuts between the first bytes and the file
// position that counts them, nor ends the process while ReplaceFileW has the old
// page aside.
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

void cutWrittenInPlace(HANDLE file, LONGLONG oldLength) noexcept {
  LARGE_INTEGER written{};
  if (!::SetFilePointerEx(file, LARGE_INTEGER{}, &written, FILE_CURRENT)) return;
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = written.QuadPart > 0 ? written.QuadPart : oldLength;
  ::SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end);
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize = end.EndOfFile;
  ::SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation);
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

}  // namespace

void handleConsoleStops() {
  static const bool installed = ::SetConsoleCtrlHandler(stopRun, TRUE) != 0;
  (void)installed;
}

struct PageFile::State {
  enum class Mode { InPlace, Over, Named };

  std::string path;  // UTF-8, as given
  std::uint64_t size = 0;
  Mode mode = Mode::InPlace;
  int fd = -1;
  bool exists = false;                   // the path names a file the page replaces
  DWORD oldAttributes = 0;               // of that file
  LONGLONG oldLength = 0;                // written over it: its length before
  std::string newFile;                   // beside the page, until commit()
  HANDLE keeper = INVALID_HANDLE_VALUE;  // the new file's own handle, holding its deletion mark

  void open();
  DWORD createNewFile(const std::wstring& name);
  void openInPlace();
  void openOver();
  void reserve();
  void commitNewFile();
  void discard() noexcept;
  [[noreturn]] void fail(const char* operation, int errnum) const {
    throw Error::io(path, operation, errnum);
  }
  [[noreturn]] void failWithLastError(const char* operation) const {
    fail(operation, errnoOfWin32(::GetLastError()));
  }

  std::uint64_t written = 0;  // bytes as they reach the file
  bool closed = false;
};

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

void PageFile::State::open() {
  handleConsoleStops();
  const std::wstring name = widen(path);
  // A path that names no file ("", "dir\") is opened as given, and fails as always.
  if (name.empty() || name.back() == L'/' || name.back() == L'\\') return openInPlace();
  if (isDirectory(name)) fail("openFile", EISDIR);
  // Devices (NUL, CON) and pipes are written in place: anything that is no file
  // on a disk.
  const HANDLE probe =
      ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    const DWORD type = ::GetFileType(probe);
    ::CloseHandle(probe);
    if (type != FILE_TYPE_DISK) return openInPlace();
    exists = true;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    failWithLastError("openFile");
  }
  if (exists) {
    // Replacing needs only the folder's permission; the file's own read-only
    // attribute says whether the user may replace it.
    oldAttributes = ::GetFileAttributesW(name.c_str());
    if (oldAttributes & FILE_ATTRIBUTE_READONLY) fail("openFile", EACCES);
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
      exists = false;
    } else if (error != 0) {
      fail("openFile", errnoOfWin32(error));
    }
  }
  const std::size_t slash = folderEnd(path);
  const std::string folder = path.substr(0, slash);
  const std::string base = path.substr(slash, 200);
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%d.%08x", ::_getpid(), entropy());
    newFile = folder + "." + base + suffix;
    const DWORD error = createNewFile(widen(newFile));
    if (error == 0) break;
    newFile.clear();
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 8) continue;
    if (exists && error == ERROR_ACCESS_DENIED) return openOver();
    fail("openFile", errnoOfWin32(error));
  }
  mode = Mode::Named;
  reserve();
}

// The new file, hidden and temporary while it is written, with a second handle of
// its own that marks it for deletion on its last close: a run that ends any other
// way than by commit() (a failure, a stop, a kill) leaves nothing behind. The
// writing handle becomes the C library's descriptor, which close() closes, so that
// its close reports before the caller says the page is written; the mark's handle
// keeps the file until commit(). Returns the error of a folder that refuses the
// file, 0 once it is made.
DWORD PageFile::State::createNewFile(const std::wstring& name) {
  // A stop waits for the mark.
  const StopGuard guard;
  const HANDLE h =
      ::CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  keeper = ::CreateFileW(name.c_str(), DELETE | FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  FILE_DISPOSITION_INFO deleteIt{TRUE};
  if (keeper == INVALID_HANDLE_VALUE ||
      !::SetFileInformationByHandle(keeper, FileDispositionInfo, &deleteIt, sizeof deleteIt)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (keeper != INVALID_HANDLE_VALUE) ::CloseHandle(keeper);
    keeper = INVALID_HANDLE_VALUE;
    ::DeleteFileW(name.c_str());
    fail("openFile", errnoOfWin32(error));
  }
  fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    fail("openFile", EMFILE);
  }
  return 0;
}

// No new file can be made in the folder, or the old page may not be deleted, but
// the page itself may be written: it is written over the old one, whose space is
// reserved without cutting it. Until the first byte a failure or a stop leaves the
// old page as it was (and gives back the reservation); after it, the file is cut
// at the bytes written.
void PageFile::State::openOver() {
  const std::wstring name = widen(path);
  HANDLE h = INVALID_HANDLE_VALUE;
  const DWORD error = retryWhileHeld([&] {
    h = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h != INVALID_HANDLE_VALUE;
  });
  if (error != 0) fail("openFile", errnoOfWin32(error));
  fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    fail("openFile", EMFILE);
  }
  LARGE_INTEGER old{};
  if (!::GetFileSizeEx(h, &old)) failWithLastError("openFile");
  oldLength = old.QuadPart;
  mode = Mode::Over;
  {
    const StopGuard guard;
    fileToCut = h;
    lengthBeforeWriting = oldLength;
  }
  reserve();
}

void PageFile::State::openInPlace() {
  const std::wstring name = widen(path);
  fd = ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
  if (fd >= 0) return;
  const int error = errno;
  // Windows refuses to open a directory as a file, with "access denied".
  if (!name.empty() && isDirectory(name)) fail("openFile", EISDIR);
  fail("openFile", error);
}

// Allocates the page's bytes before the first is written (written over the old
// page, never fewer than it has, which would cut it); where the file system cannot,
// its free space must hold them.
void PageFile::State::reserve() {
  if (size == 0) return;
  // Written over the old page, its bytes are the page's already.
  const std::uint64_t keepSize = mode == Mode::Over ? static_cast<std::uint64_t>(oldLength) : 0;
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(std::max(size, keepSize));
  if (::SetFileInformationByHandle(handleOf(fd), FileAllocationInfo, &allocation,
                                   sizeof allocation)) {
    return;
  }
  const DWORD error = ::GetLastError();
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED) {
    fail("writeFile", errnoOfWin32(error));
  }
  const std::size_t slash = folderEnd(path);
  const std::wstring folder = slash == 0 ? std::wstring(L".") : widen(path.substr(0, slash));
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return;
  if (size > available.QuadPart + keepSize) fail("writeFile", ENOSPC);
}

void PageFile::write(const char* data, std::size_t size) {
  const StopGuard guard;
  state_->written += writeAll(state_->fd, data, size, state_->path);
}

void PageFile::close() {
  State& s = *state_;
  if (s.written != s.size) {
    throw Error::program("the page came to " + std::to_string(s.written) +
                         " bytes where its size said " + std::to_string(s.size));
  }
  if (s.mode == State::Mode::Over) {
    const StopGuard guard;
    // The old page may have been longer.
    if (::_chsize_s(s.fd, static_cast<__int64>(s.size)) != 0) s.fail("writeFile", errno);
    fileToCut = INVALID_HANDLE_VALUE;
  }
  if (s.keeper != INVALID_HANDLE_VALUE) {
    // The page's attributes, no longer those of a file being written.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes =
        FILE_ATTRIBUTE_ARCHIVE |
        (s.exists ? s.oldAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED)
                  : 0);
    if (!::SetFileInformationByHandle(s.keeper, FileBasicInfo, &basic, sizeof basic)) {
      s.failWithLastError("writeFile");
    }
  }
  s.closed = true;
  const int fd = s.fd;
  s.fd = -1;
  if (::_close(fd) != 0) s.fail("closeFile", errno);
}

void PageFile::commit() {
  State& s = *state_;
  if (!s.closed) throw Error::program("the page was committed before it was closed");
  if (!s.newFile.empty()) s.commitNewFile();
}

void PageFile::State::commitNewFile() {
  // A stop waits for the page to be in place, or not.
  const StopGuard guard;
  // The rename needs the file's last handle closed, and the file must outlive it.
  FILE_DISPOSITION_INFO keepIt{FALSE};
  if (!::SetFileInformationByHandle(keeper, FileDispositionInfo, &keepIt, sizeof keepIt)) {
    failWithLastError("writeFile");
  }
  ::CloseHandle(keeper);
  keeper = INVALID_HANDLE_VALUE;
  const std::wstring to = fullName(path);
  const std::wstring from = fullName(newFile);
  // ReplaceFileW without a backup name may delete the old page before it fails to
  // move the new one in its place; with one, the old page is either where it was
  // or under the backup name.
  const std::string backupFile = newFile + ".old";
  const std::wstring backup = fullName(backupFile);
  // Once the old page is gone through no doing of another program, the new one is
  // the only copy: it stays, whatever happens.
  bool onlyCopy = false;
  for (int attempt = 1;; ++attempt) {
    if (!exists) {
      if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
    } else if (::ReplaceFileW(to.c_str(), from.c_str(), backup.c_str(),
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      ::DeleteFileW(backup.c_str());
      break;
    }
    const DWORD error = ::GetLastError();
    if (exists && fileExists(backup)) {
      // The old page was moved aside, and the new one could not take its place: the
      // old one goes back. Where it cannot, neither file is touched again, and the
      // report says where both pages are.
      if (!::MoveFileExW(backup.c_str(), to.c_str(), 0)) {
        const int errnum = errnoOfWin32(::GetLastError());
        const std::string where =
            path + " (old page now in " + backupFile + ", new page in " + newFile + ")";
        newFile.clear();
        throw Error::io(where, "writeFile", errnum);
      }
    } else if (exists && !fileExists(to)) {
      // The old page went meanwhile, or on the way: there is nothing to keep but the
      // new one.
      exists = false;
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
    const int errnum = held ? EBUSY : errnoOfWin32(error);
    if (!onlyCopy) fail("writeFile", errnum);
    const std::string where = path + " (new page in " + newFile + ")";
    newFile.clear();
    throw Error::io(where, "writeFile", errnum);
  }
  newFile.clear();
}

void PageFile::State::discard() noexcept {
  const StopGuard guard;
  if (mode == Mode::Over) fileToCut = INVALID_HANDLE_VALUE;
  if (fd >= 0) {
    if (mode == Mode::Over && !closed) cutWrittenInPlace(handleOf(fd), oldLength);
    ::_close(fd);
    fd = -1;
  }
  // Marked for deletion: the new file goes with its last handle.
  if (keeper != INVALID_HANDLE_VALUE) {
    ::CloseHandle(keeper);
    keeper = INVALID_HANDLE_VALUE;
  }
  // Unmarked, once commit() failed.
  if (!newFile.empty()) {
    const std::wstring name = widen(newFile);
    retryWhileHeld([&] { return ::DeleteFileW(name.c_str()) != 0; });
    newFile.clear();
  }
}

}  // namespace qv::platform
