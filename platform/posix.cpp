// The POSIX implementation. QUILTVIEW_LINUX_CALLS (on for Linux unless the
// portable build is asked for) adds the Linux-only calls; without them each has
// its POSIX fallback, which is what another POSIX system runs.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <thread>

#include "base/error.h"
#include "platform/platform.h"
#include "platform/shared.h"

#if QUILTVIEW_LINUX_CALLS
#include <sched.h>
#endif

namespace qv::platform {

// Documents and pages pass 4 GB: a 32-bit system's off_t is 64 bits wide only with
// _FILE_OFFSET_BITS=64 (the build sets it).
static_assert(sizeof(off_t) >= 8, "off_t must be 64 bits wide: build with -D_FILE_OFFSET_BITS=64");

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t roundUp(std::size_t n, std::size_t to) {
  return (n + to - 1) / to * to;
}

}  // namespace

void adviseHugePages([[maybe_unused]] void* p, [[maybe_unused]] std::size_t bytes) noexcept {
#if QUILTVIEW_LINUX_CALLS
  const auto begin = reinterpret_cast<std::uintptr_t>(p);
  const std::uintptr_t first = roundUp(begin, kHugePage);
  const std::uintptr_t last = (begin + bytes) / kHugePage * kHugePage;
  if (first < last) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#endif
}

std::vector<std::string> startProcess(int argc, char** argv) {
  // A closed standard output, or a page past the file size limit, fails a write
  // (EPIPE, EFBIG) and the run ends with the one report.
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
  return std::vector<std::string>(argv, argv + argc);
}

unsigned availableCpus() {
#if QUILTVIEW_LINUX_CALLS
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n > 0 ? static_cast<unsigned>(n) : 1;
#else
  // All the CPUs of the machine: POSIX has no call for the process's own.
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
#endif
}

void* mapLarge(std::size_t bytes) noexcept {
  // Map a little more and trim it, so that the block starts on a huge page.
  const std::size_t size = roundUp(bytes, kHugePage);
  void* raw =
      ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = roundUp(start, kHugePage);
  if (aligned > start) ::munmap(raw, aligned - start);
  // What is left past the block: never nothing, aligned lies less than a huge page in.
  ::munmap(reinterpret_cast<void*>(aligned + size), kHugePage - (aligned - start));
  void* p = reinterpret_cast<void*>(aligned);
  adviseHugePages(p, size);
  return p;
}

void unmapLarge(void* p, std::size_t bytes) noexcept {
  ::munmap(p, roundUp(bytes, kHugePage));
}

std::uint64_t bytesInFile(TextSize size) {
  return size.bytes;
}

Outcome writeAll(int fd, const char* data, std::size_t size, std::uint64_t& written) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Failure{"writeFile", errno};
    data += n;
    size -= static_cast<std::size_t>(n);
    written += static_cast<std::size_t>(n);
  }
  return std::nullopt;
}

unsigned long processId() {
  return static_cast<unsigned long>(::getpid());
}

int closeFd(int fd) {
  return ::close(fd) == 0 ? 0 : errno;
}

int openToRead(const std::string& path, std::int64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  struct stat st {};
  // Reading a directory must never look like an empty document.
  const int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (error != 0) {
    ::close(fd);
    return -error;
  }
  size = S_ISREG(st.st_mode) ? st.st_size : -1;
  return fd;
}

std::int64_t readSome(int fd, char* data, std::size_t room) {
  for (;;) {
    const ssize_t n = ::read(fd, data, room);
    if (n >= 0) return n;
    if (errno != EINTR) return -errno;
  }
}

bool isTerminalFd(int fd) {
  return ::isatty(fd) == 1;
}

}  // namespace qv::platform
