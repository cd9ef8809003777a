// The Windows implementation: the C library's descriptors in binary mode, the line
// ends' carriage returns put in by the program's own writing, wide names for every
// file, a console shown UTF-8 while the program runs, and no huge pages.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

// Needs the types of windows.h first.
#include <shellapi.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/windows_internal.h"

namespace qv::platform {
namespace {

// Below INT_MAX, which is all a single read of the C library or a WriteFile takes.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
// What one WriteFile to a console is given: older consoles refuse large writes.
constexpr std::size_t kMaxConsoleChunk = std::size_t{1} << 14;
// Where the line ends get their carriage returns: an Output's whole buffer takes
// one WriteFile even if every byte of it is a line feed.
constexpr std::size_t kStageBytes = std::size_t{2} << 20;
static_assert(kStageBytes >= 2 * Output::kDefaultCapacity);

// A character device first: under Wine, GetConsoleMode is a round trip.
bool isConsole(HANDLE h) {
  DWORD mode = 0;
  return ::GetFileType(h) == FILE_TYPE_CHAR && ::GetConsoleMode(h, &mode) != 0;
}

// The bytes as they are, in chunks one WriteFile takes; a console's end on a whole
// UTF-8 character.
Outcome writeBytes(HANDLE h, bool console, const char* data, std::size_t size) {
  const std::size_t most = console ? kMaxConsoleChunk : kMaxChunk;
  while (size > 0) {
    std::size_t chunk = std::min(size, most);
    if (console && chunk < size) {
      std::size_t cut = chunk;
      while (cut > chunk - 3 && (static_cast<unsigned char>(data[cut]) & 0xC0) == 0x80) --cut;
      if ((static_cast<unsigned char>(data[cut]) & 0xC0) != 0x80) chunk = cut;
    }
    DWORD n = 0;
    if (!::WriteFile(h, data, static_cast<DWORD>(chunk), &n, nullptr)) {
      return failureOf("writeFile", ::GetLastError());
    }
    if (n == 0) return Failure{"writeFile", ENOSPC};
    data += n;
    size -= n;
  }
  return std::nullopt;
}

// Copies from data into [to, last), each line feed as CR LF, until the input or the
// room ends; moves data past what it took, returns the end of what it wrote. Lines
// are short: 16 bytes are looked at as they are copied, not a call a line.
char* addCarriageReturns(const char*& data, const char* end, char* to, char* last) {
  const char* from = data;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  // 16 bytes are stored, the carriage return may push the line feed one further.
  while (end - from >= 16 && last - to >= 17) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), bytes);
    const auto found = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lf)));
    const int k = found == 0 ? 16 : std::countr_zero(found);
    from += k;
    to += k;
    if (found != 0) {  // the line feed, after its carriage return
      *to++ = '\r';
      *to++ = *from++;
    }
  }
#endif
  while (from < end && last - to >= 2) {
    if (*from == '\n') *to++ = '\r';
    *to++ = *from++;
  }
  data = from;
  return to;
}

// The console's output code page before the program's UTF-8; 0 while unchanged.
std::atomic<UINT> consoleCodePageToRestore{0};

void restoreConsoleCodePage() noexcept {
  if (const UINT old = consoleCodePageToRestore.exchange(0); old != 0) ::SetConsoleOutputCP(old);
}

BOOL WINAPI restoreOnStop(DWORD) {
  restoreConsoleCodePage();
  return FALSE;  // the next handler, in the end the default one, ends the process
}

// The program writes UTF-8; a console shows bytes in its output code page, by
// default an OEM one such as 437, where "café" reads "cafÃ©".
void showUtf8OnConsole() {
  if (!isConsole(::GetStdHandle(STD_OUTPUT_HANDLE)) &&
      !isConsole(::GetStdHandle(STD_ERROR_HANDLE))) {
    return;
  }
  const UINT old = ::GetConsoleOutputCP();
  if (old == 0 || old == CP_UTF8 || !::SetConsoleOutputCP(CP_UTF8)) return;
  consoleCodePageToRestore = old;
  // Put back on every way out that runs code (taskkill /F runs none).
  std::atexit([] { restoreConsoleCodePage(); });
  ::SetConsoleCtrlHandler(restoreOnStop, TRUE);
}

std::string narrow(const wchar_t* wide, std::size_t size) {
  if (size == 0) return {};
  const int n =
      ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(size), text.data(), n, nullptr, nullptr);
  return text;
}

}  // namespace

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

Failure failureOf(const char* operation, DWORD error) {
  // A held file is busy, not denied; a pipe without a reader is ERROR_NO_DATA or
  // ERROR_BROKEN_PIPE to Windows, ERROR_PIPE_NOT_CONNECTED to Wine.
  static constexpr struct {
    DWORD error;
    int errnum;
  } kErrnos[] = {
      // clang-format off
      {ERROR_FILE_NOT_FOUND, ENOENT},    {ERROR_PATH_NOT_FOUND, ENOENT},
      {ERROR_ACCESS_DENIED, EACCES},     {ERROR_SHARING_VIOLATION, EBUSY},
      {ERROR_LOCK_VIOLATION, EBUSY},     {ERROR_FILE_EXISTS, EEXIST},
      {ERROR_ALREADY_EXISTS, EEXIST},    {ERROR_DISK_FULL, ENOSPC},
      {ERROR_HANDLE_DISK_FULL, ENOSPC},  {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
      {ERROR_OUTOFMEMORY, ENOMEM},       {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
      {ERROR_NO_DATA, EPIPE},            {ERROR_BROKEN_PIPE, EPIPE},
      {ERROR_PIPE_NOT_CONNECTED, EPIPE}, {ERROR_INVALID_PARAMETER, EINVAL},
      // clang-format on
  };
  for (const auto& known : kErrnos) {
    if (known.error == error) return {operation, known.errnum};
  }
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = narrow(text, length);
  ::LocalFree(text);
  // A sentence and a line end: the report puts the words in parentheses.
  words.erase(words.find_last_not_of(" .\r\n") + 1);
  return {operation, 0, words.empty() ? "Windows error " + std::to_string(error) : words};
}

std::vector<std::string> startProcess(int argc, char** argv) {
  // First of the console's handlers, so the code page's runs before it.
  handleConsoleStops();
  // Binary mode: writeAll puts the CRs in many times faster than text mode.
  ::_setmode(_fileno(stdout), _O_BINARY);
  ::_setmode(_fileno(stderr), _O_BINARY);
  showUtf8OnConsole();
  // argv holds the names in the ANSI code page, where "α.xml" cannot be written.
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) args.push_back(narrow(wide[i], std::wcslen(wide[i])));
  ::LocalFree(wide);
  return args;
}

unsigned availableCpus() {
  DWORD_PTR process = 0, system = 0;
  if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system)) return 1;
  const int n = std::popcount(static_cast<std::uint64_t>(process));
  return n > 0 ? static_cast<unsigned>(n) : 1;
}

void* mapLarge(std::size_t bytes) noexcept {
  return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void unmapLarge(void* p, std::size_t) noexcept {
  ::VirtualFree(p, 0, MEM_RELEASE);
}

std::uint64_t bytesInFile(TextSize size) {
  return size.bytes + size.lineFeeds;
}

// With WriteFile on the descriptor's handle, each line feed as CR LF: the bytes
// text mode would write (a CR already in the data stays: "\r\n" becomes "\r\r\n").
Outcome writeAll(int fd, const char* data, std::size_t size, std::uint64_t& written) {
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  const bool console = isConsole(h);
  // One buffer a thread: the page's writer and the standard streams' differ.
  thread_local std::unique_ptr<char[]> stage;
  if (!stage) stage = std::make_unique_for_overwrite<char[]>(kStageBytes);
  char* const first = stage.get();
  const char* const end = data + size;
  for (;;) {
    char* const to = addCarriageReturns(data, end, first, first + kStageBytes);
    const auto n = static_cast<std::size_t>(to - first);
    if (Outcome failed = writeBytes(h, console, first, n)) return failed;
    written += n;
    if (data == end) return std::nullopt;
  }
}

int closeFd(int fd) {
  return ::_close(fd) == 0 ? 0 : errno;
}

bool isDirectory(const std::wstring& name) {
  const DWORD attributes = ::GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isTerminalFd(int fd) {
  return isConsole(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

int openToRead(const std::string& path, std::int64_t& size) {
  const std::wstring name = widen(path);
  // Binary mode: text mode ends at a Ctrl-Z and folds the line ends the reader reads.
  const int fd = ::_wopen(name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd < 0) {
    const int error = errno;
    // Windows refuses to open a directory as a file, with "access denied".
    return isDirectory(name) ? -EISDIR : -error;
  }
  struct _stat64 st {};
  const int error = ::_fstat64(fd, &st) != 0             ? errno
                    : (st.st_mode & _S_IFMT) == _S_IFDIR ? EISDIR
                                                         : 0;
  if (error != 0) {
    ::_close(fd);
    return -error;
  }
  size = (st.st_mode & _S_IFMT) == _S_IFREG ? st.st_size : -1;
  return fd;
}

std::int64_t readSome(int fd, char* data, std::size_t room) {
  const int n = ::_read(fd, data, static_cast<unsigned>(std::min(room, kMaxChunk)));
  // A pipe whose writer has gone ends the input, as on any other system.
  return n >= 0 ? n : errno == EPIPE ? 0 : -errno;
}

// Windows gives a program huge pages only with a privilege it seldom has.
void adviseHugePages(void*, std::size_t) noexcept {}

unsigned long processId() {
  return ::GetCurrentProcessId();
}

}  // namespace qv::platform
