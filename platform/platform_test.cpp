#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "base/error.h"
#include "platform/find_byte.h"
#include "tests/scratch_dir.h"
#include "tests/string_sink.h"

namespace qv::platform {
namespace {

using PlatformTest = qvtest::ScratchDirTest;

TEST_F(PlatformTest, ReadsEveryByteOfAFileAsItIs) {
  // Text mode would end at the Ctrl-Z and fold CR CR LF into CR LF.
  std::string bytes = "<a>x\x1ay</a>\r\r\n<b/>\r\n";
  for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
  write("in.xml", bytes);
  EXPECT_TRUE(readWholeFile(path("in.xml")).view() == bytes);
}

TEST_F(PlatformTest, ReadingFailsWithTheReportOfWhatWentWrong) {
  std::filesystem::create_directories(path("dir"));
  write("in.xml", "<a/>");
  const std::string missing = ": openFile: does not exist (No such file or directory)";
  struct Case {
    std::string path, report;
  };
  std::vector<Case> cases = {{path("dir"), ": openFile: inappropriate type (Is a directory)"},
                             {path("missing.xml"), missing},
                             {path("missing/a.xml"), missing},
                             {"", missing}};
#ifndef _WIN32
  cases.push_back({path("in.xml/a.xml"), ": openFile: does not exist (Not a directory)"});
  // Root reads whatever the permissions say.
  write("private.xml", "<a/>");
  std::filesystem::permissions(path("private.xml"), std::filesystem::perms::none);
  if (::geteuid() != 0) {
    cases.push_back({path("private.xml"), ": openFile: permission denied (Permission denied)"});
  }
#endif
  for (const Case& c : cases) {
    try {
      readWholeFile(c.path);
      ADD_FAILURE() << c.path << " was read";
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), c.path + c.report);
    }
  }
}

TEST_F(PlatformTest, ThePageReachesItsFileWithTheSystemsLineEndsWhateverTheBlocks) {
  // Blocks larger than any buffer on the way: a line longer than them, a run of
  // line feeds that doubles where they take CR LF, a CR already before a LF, and
  // lines of every length up to a few blocks of 16 bytes, at every alignment.
  std::string block(std::size_t{3} << 20, 'x');
  block += std::string(std::size_t{3} << 19, '\n');
  block += "a\r\nb\rc\n\r";
  for (std::size_t n = 0; n < 40000; ++n) block += std::string(n % 67, 'y') + '\n';
  std::string expected;
  for (const char c : block) {
    if (c == '\n' && bytesInFile({1, 1}) == 2) expected += '\r';
    expected += c;
  }
  const TextSize size = qvtest::sizeOf(block);
  PageFile file(path("page.html"), {2 * size.bytes, 2 * size.lineFeeds});
  for (int twice = 0; twice < 2; ++twice) file.write(block.data(), block.size());
  // Fails unless every byte was counted as it reached the file.
  file.close();
  file.commit();
  EXPECT_TRUE(readWholeFile(path("page.html")).view() == expected + expected);
}

#ifdef _WIN32
// A Win32 error that has no errno is reported in the system's own words, as one
// phrase in the parentheses: no period, no line end.
TEST_F(PlatformTest, AnErrorWithoutAnErrnoIsToldInTheSystemsWords) {
  const std::string page = path("a<b.html");
  const std::string prefix = page + ": openFile: failed (";
  try {
    PageFile file(page, {3});
    ADD_FAILURE() << page << " was opened";
  } catch (const Error& e) {
    ASSERT_TRUE(e.message().starts_with(prefix)) << e.message();
    const std::string words = e.message().substr(prefix.size());
    EXPECT_TRUE(words.size() > 2 && words.ends_with(")") && !words.ends_with(".)")) << words;
    EXPECT_EQ(words.find_first_of("\r\n"), std::string::npos) << words;
    EXPECT_FALSE(words.starts_with("Windows error")) << words;
  }
}
#endif

// findByte is the program's own scan on Windows: every length, start and place of
// the byte, and a byte just outside the range that must not be found.
TEST(Platform, FindByteFindsTheFirstByteWithinItsRangeOnly) {
  std::string text(96, 'x');
  for (std::size_t start = 0; start < 16; ++start) {
    for (std::size_t length = 0; start + length < text.size(); ++length) {
      const char* from = text.data() + start;
      EXPECT_EQ(findByte(from, '<', length), nullptr) << start << " " << length;
      text[start + length] = '<';  // one past the end
      EXPECT_EQ(findByte(from, '<', length), nullptr) << start << " " << length;
      text[start + length] = 'x';
      for (std::size_t at = 0; at < length; ++at) {
        text[start + at] = '<';
        if (at + 1 < length) text[start + length - 1] = '<';  // a later one too
        EXPECT_EQ(findByte(from, '<', length), from + at) << start << " " << length << " " << at;
        text.replace(start, length, length, 'x');
      }
    }
  }
  const unsigned char high[] = {0x7f, 0x80, 0xff, 0x00};
  EXPECT_EQ(findByte(high, 0xff, 4), high + 2);
  EXPECT_EQ(findByte(high, 0, 4), high + 3);
  EXPECT_EQ(findByte(high, 0x180, 4), high + 1);  // the byte is c converted to unsigned char
}

// A large block is pages of its own, not a piece of the heap: aligned for huge
// pages on POSIX systems, and gone from the process once unmapped.
#ifndef _WIN32
// Whether the page at p is mapped, as /proc/self/maps says: qemu-user keeps that
// list for its guest, where msync would see the host's reservation of a 32-bit
// guest's space. Without the list, msync tells.
bool isMapped(void* p) {
  std::ifstream maps("/proc/self/maps");
  if (!maps) return ::msync(p, 1, MS_ASYNC) == 0;
  const auto at = reinterpret_cast<std::uintptr_t>(p);
  for (std::string line; std::getline(maps, line);) {
    std::uintptr_t begin = 0, end = 0;
    if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR, &begin, &end) == 2 && at >= begin &&
        at < end) {
      return true;
    }
  }
  return false;
}
#endif

TEST(Platform, LargeBlocksAreMappedPagesOfTheirOwn) {
  constexpr std::size_t kBytes = (std::size_t{5} << 20) + 3;
  auto* p = static_cast<unsigned char*>(mapLarge(kBytes));
  ASSERT_NE(p, nullptr);
  p[0] = 1;
  p[kBytes - 1] = 2;
  EXPECT_EQ(p[0] + p[kBytes - 1], 3);
#ifdef _WIN32
  MEMORY_BASIC_INFORMATION block{};
  ASSERT_NE(::VirtualQuery(p, &block, sizeof block), 0u);
  EXPECT_EQ(block.AllocationBase, p);
  EXPECT_EQ(block.State, static_cast<DWORD>(MEM_COMMIT));
  EXPECT_GE(block.RegionSize, kBytes);
  unmapLarge(p, kBytes);
  ASSERT_NE(::VirtualQuery(p, &block, sizeof block), 0u);
  EXPECT_EQ(block.State, static_cast<DWORD>(MEM_FREE));
#else
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % kHugePage, 0u);
  // msync fails with ENOMEM on a range that is not mapped, EINVAL off a page.
  const std::size_t mapped = (kBytes + kHugePage - 1) / kHugePage * kHugePage;
  EXPECT_EQ(::msync(p, mapped, MS_ASYNC), 0) << std::strerror(errno);
  unmapLarge(p, kBytes);
  EXPECT_FALSE(isMapped(p));
  EXPECT_FALSE(isMapped(p + mapped - 1));
#endif
}

}  // namespace
}  // namespace qv::platform
