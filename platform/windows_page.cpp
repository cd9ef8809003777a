// The page's file on Windows: a new file beside the page, opened by its wide
// name in binary mode, its space reserved first, put over the old page with
// ReplaceFileW (which keeps the old file's attributes and ACL) or MoveFileExW.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/windows_internal.h"

namespace qv::platform {
namespace {

bool isDirectory(const std::wstring& name) {
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The new file of the page being written, for the console's handler: a run
// stopped by Ctrl-C or a closed console must not leave a half page behind. The
// file is open for deletion by others, so the handler's thread can remove it
// while the writing thread still holds it.
wchar_t newFileToRemove[32768];
std::atomic<bool> removeOnStop{false};

BOOL WINAPI removeNewFileAndStop(DWORD) {
  if (removeOnStop.exchange(false)) ::DeleteFileW(newFileToRemove);
  return FALSE;  // the next handler, in the end the default one, ends the process
}

void removeOnStopSignals(const std::wstring& name) {
  const std::size_t n = std::min(name.size(), std::size(newFileToRemove) - 1);
  std::copy(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n), newFileToRemove);
  newFileToRemove[n] = L'\0';
  removeOnStop = true;
  static const bool installed = ::SetConsoleCtrlHandler(removeNewFileAndStop, TRUE) != 0;
  (void)installed;
}

void releaseStopSignals() {
  removeOnStop = false;
}

HANDLE handleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

// The folder part of a path: up to its last separator of either kind, or its
// drive ("C:x.html").
std::size_t folderEnd(const std::string& path) {
  const std::size_t cut = path.find_last_of("/\\");
  if (cut != std::string::npos) return cut + 1;
  return path.size() >= 2 && path[1] == ':' ? 2 : 0;
}

}  // namespace

struct PageFile::State {
  enum class Mode { InPlace, Over, Named };

  std::string path;  // UTF-8, as given
  std::uint64_t size = 0;
  Mode mode = Mode::InPlace;
  int fd = -1;
  bool exists = false;  // the path names a file the page replaces
  std::string newFile;  // beside the page, until commit()

  void open();
  void openInPlace();
  void openOver();
  void reserve(std::uint64_t alreadyHeld, std::uint64_t keepSize);
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

PageFile::PageFile(const std::string& path, std::uint64_t size) : state_(new State) {
  state_->path = path;
  state_->size = size;
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
  // Replacing needs only the folder's permission; the file's own read-only
  // attribute says whether the user may replace it.
  if (exists && (::GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_READONLY)) {
    fail("openFile", EACCES);
  }
  const std::size_t slash = folderEnd(path);
  const std::string folder = path.substr(0, slash);
  const std::string base = path.substr(slash, 200);
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%d.%08x", ::_getpid(), entropy());
    newFile = folder + "." + base + suffix;
    const std::wstring newName = widen(newFile);
    const HANDLE h =
        ::CreateFileW(newName.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      removeOnStopSignals(newName);
      fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
      if (fd < 0) {
        ::CloseHandle(h);
        fail("openFile", EMFILE);
      }
      break;
    }
    const DWORD error = ::GetLastError();
    newFile.clear();
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 8) continue;
    if (exists && error == ERROR_ACCESS_DENIED) return openOver();
    fail("openFile", errnoOfWin32(error));
  }
  mode = Mode::Named;
  reserve(0, 0);
}

// No new file can be made in the folder, but the page itself may be written: it
// is written over the old one, whose space is reserved without cutting it. Only
// once the page fits does a failure cut the file at the bytes written: a page
// that does not fit leaves the old one whole.
void PageFile::State::openOver() {
  fd = ::_wopen(widen(path).c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) fail("openFile", errno);
  LARGE_INTEGER old{};
  if (!::GetFileSizeEx(handleOf(fd), &old)) failWithLastError("openFile");
  reserve(static_cast<std::uint64_t>(old.QuadPart), static_cast<std::uint64_t>(old.QuadPart));
  mode = Mode::Over;
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

// Allocates the page's bytes before the first is written (never fewer than
// keepSize, which would cut the file); where the file system cannot, its free
// space must hold them.
void PageFile::State::reserve(std::uint64_t alreadyHeld, std::uint64_t keepSize) {
  if (size == 0) return;
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
  if (size > available.QuadPart + alreadyHeld) fail("writeFile", ENOSPC);
}

void PageFile::write(const char* data, std::size_t size) {
  state_->written += writeAll(state_->fd, data, size, state_->path);
}

void PageFile::close() {
  State& s = *state_;
  if (s.written != s.size) {
    throw Error::program("the page came to " + std::to_string(s.written) +
                         " bytes where its size said " + std::to_string(s.size));
  }
  // The old page may have been longer.
  if (s.mode == State::Mode::Over && ::_chsize_s(s.fd, static_cast<__int64>(s.size)) != 0) {
    s.fail("writeFile", errno);
  }
  s.closed = true;
  const int fd = s.fd;
  s.fd = -1;
  if (::_close(fd) != 0) s.fail("closeFile", errno);
}

void PageFile::commit() {
  State& s = *state_;
  if (!s.closed) throw Error::program("the page was committed before it was closed");
  if (s.newFile.empty()) return;
  const std::wstring from = widen(s.newFile);
  const std::wstring to = widen(s.path);
  // ReplaceFileW keeps the old file's attributes and ACL; a target that has gone
  // meanwhile is simply moved to.
  if (!(s.exists && ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                   REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) &&
      !::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    s.failWithLastError("writeFile");
  }
  s.newFile.clear();
  releaseStopSignals();
}

void PageFile::State::discard() noexcept {
  if (fd >= 0) {
    if (mode == Mode::Over) {
      // Written over the old page: cut at the bytes written, no reserved tail.
      const __int64 written = ::_lseeki64(fd, 0, SEEK_CUR);
      if (written >= 0) ::_chsize_s(fd, written);
    }
    ::_close(fd);
    fd = -1;
  }
  if (!newFile.empty()) {
    ::DeleteFileW(widen(newFile).c_str());
    newFile.clear();
  }
  releaseStopSignals();
}

}  // namespace qv::platform
