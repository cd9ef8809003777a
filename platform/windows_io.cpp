// The program's files on Windows: the interface of app/io.h over wide names,
// the C library's descriptors in text mode, and a page that replaces its file
// all or nothing through a new file beside it.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

#include "app/io.h"
#include "base/error.h"
#include "platform/platform.h"
#include "platform/windows_internal.h"

namespace qv {
namespace {

Error ioError(const std::string& path, const platform::Failure& f) {
  return Error::io(path, f.operation, f.errnum);
}

Error win32Error(const std::string& path, const char* operation) {
  return Error::io(path, operation, platform::errnoOfWin32(::GetLastError()));
}

bool isDirectory(const std::wstring& name) {
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The new file of the page being written, for the console's handler: a run
// stopped by Ctrl-C or a closed console must not leave a half page behind.
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

void keepOnStopSignals() {
  removeOnStop = false;
}

std::size_t lineFeeds(const char* data, std::size_t size) {
  return static_cast<std::size_t>(std::count(data, data + size, '\n'));
}

}  // namespace

std::string readWholeFile(const std::string& path) {
  try {
    return platform::readWholeFile(path);
  } catch (const platform::Failure& f) {
    throw ioError(path, f);
  }
}

FdSink::~FdSink() {
  if (fd_ >= 0) platform::closeQuietly(fd_);
}

void FdSink::write(const char* data, std::size_t size) {
  try {
    platform::writeAll(fd_, data, size);
  } catch (const platform::Failure& f) {
    throw ioError(name_, f);
  }
}

void FdSink::close() {
  const int fd = fd_;
  fd_ = -1;
  if (fd < 0) return;
  try {
    platform::closeFile(fd);
  } catch (const platform::Failure& f) {
    throw ioError(name_, f);
  }
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
  const std::wstring name = platform::widen(path_);
  // A path that names no file ("", "dir\") is opened as given, and fails as always.
  if (name.empty() || name.back() == L'/' || name.back() == L'\\') return openInPlace();
  if (isDirectory(name)) throw Error::io(path_, "openFile", EISDIR);
  // Devices (NUL, CON) and pipes are written in place; so is anything that is no
  // file on a disk.
  bool exists = false;
  const HANDLE probe =
      ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    const DWORD type = ::GetFileType(probe);
    ::CloseHandle(probe);
    if (type != FILE_TYPE_DISK) return openInPlace();
    exists = true;
  } else if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
    throw win32Error(path_, "openFile");
  }
  if (exists && (::GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_READONLY)) {
    throw Error::io(path_, "openFile", EACCES);
  }
  // The folder ends at the last separator of either kind, or after a drive ("C:x").
  const std::size_t cut = path_.find_last_of("/\\");
  std::size_t slash = cut == std::string::npos ? 0 : cut + 1;
  if (slash == 0 && path_.size() >= 2 && path_[1] == ':') slash = 2;
  const std::string folder = path_.substr(0, slash);
  const std::string base = path_.substr(slash, 200);
  std::random_device entropy;
  for (int attempt = 0;; ++attempt) {
    char suffix[40];
    std::snprintf(suffix, sizeof suffix, ".%d.%08x", ::_getpid(), entropy());
    newFile_ = folder + "." + base + suffix;
    const std::wstring newName = platform::widen(newFile_);
    // Shared for deletion, so that the console's handler can remove it while open.
    const HANDLE h =
        ::CreateFileW(newName.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_TEXT);
      if (fd_ < 0) {
        ::CloseHandle(h);
        ::DeleteFileW(newName.c_str());
        newFile_.clear();
        throw Error::io(path_, "openFile", EMFILE);
      }
      removeOnStopSignals(newName);
      break;
    }
    const DWORD error = ::GetLastError();
    newFile_.clear();
    if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 8) continue;
    if (exists && error == ERROR_ACCESS_DENIED) return openOver(path_, {});
    throw Error::io(path_, "openFile", platform::errnoOfWin32(error));
  }
  target_ = path_;
  keepOwnerAndMode_ = exists;  // ReplaceFileW keeps the old file's attributes and ACL
  seekable_ = true;
  reserve(0);
}

// No new file can be made in the folder, but the page itself may be written: it
// is written over the old one and cut only at the end, so that a page that does
// not fit is refused by the reservation while the old page is still whole.
void PageFile::openOver(const std::string& target, const struct stat&) {
  fd_ = ::_wopen(platform::widen(target).c_str(), _O_WRONLY | _O_TEXT | _O_NOINHERIT);
  if (fd_ < 0) throw Error::io(path_, "openFile", errno);
  seekable_ = truncateAtEnd_ = true;
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
  LARGE_INTEGER old{};
  ::GetFileSizeEx(h, &old);
  reserve(static_cast<std::uint64_t>(old.QuadPart));
}

void PageFile::openInPlace() {
  const std::wstring name = platform::widen(path_);
  fd_ = ::_wopen(name.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_TEXT | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
  if (fd_ >= 0) return;
  const int error = errno;
  if (!name.empty() && isDirectory(name)) throw Error::io(path_, "openFile", EISDIR);
  throw Error::io(path_, "openFile", error);
}

// The page's bytes as they reach the file are allocated before the first one is
// written; where the file system cannot say, its free space must hold them.
void PageFile::reserve(std::uint64_t alreadyHeld) {
  if (size_ == 0) return;
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd_));
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size_);
  if (::SetFileInformationByHandle(h, FileAllocationInfo, &allocation, sizeof allocation)) return;
  const DWORD error = ::GetLastError();
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_FUNCTION && error != ERROR_CALL_NOT_IMPLEMENTED) {
    throw Error::io(path_, "writeFile", platform::errnoOfWin32(error));
  }
  std::wstring folder = platform::widen(target_.empty() ? path_ : target_);
  const std::size_t cut = folder.find_last_of(L"/\\");
  folder = cut == std::wstring::npos ? L"." : folder.substr(0, cut + 1);
  ULARGE_INTEGER available{};
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return;
  if (size_ > available.QuadPart + alreadyHeld) throw Error::io(path_, "writeFile", ENOSPC);
}

void PageFile::write(const char* data, std::size_t size) {
  try {
    platform::writeAll(fd_, data, size);
  } catch (const platform::Failure& f) {
    throw ioError(path_, f);
  }
  // The C library writes each line feed as two bytes: the size counts them so.
  written_ += size + (platform::kLineEndBytes - 1) * lineFeeds(data, size);
}

void PageFile::close() {
  if (written_ != size_) {
    throw Error::program("the page came to " + std::to_string(written_) +
                         " bytes where its size said " + std::to_string(size_));
  }
  if (truncateAtEnd_ && ::_chsize_s(fd_, static_cast<__int64>(size_)) != 0) {
    throw Error::io(path_, "writeFile", errno);
  }
  const int fd = fd_;
  fd_ = -1;
  if (::_close(fd) != 0) throw Error::io(path_, "closeFile", errno);
  if (newFile_.empty()) return;
  const std::wstring from = platform::widen(newFile_);
  const std::wstring to = platform::widen(target_);
  // ReplaceFileW keeps the old file's attributes and ACL; a target that has gone
  // meanwhile is simply moved to.
  if (!(keepOwnerAndMode_ && ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                            REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) &&
      !::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    throw win32Error(path_, "writeFile");
  }
  keepOnStopSignals();
  newFile_.clear();
}

void PageFile::discard() noexcept {
  if (fd_ >= 0) ::_close(fd_);
  fd_ = -1;
  if (!newFile_.empty()) {
    ::DeleteFileW(platform::widen(newFile_).c_str());
    keepOnStopSignals();
    newFile_.clear();
  }
}

}  // namespace qv
