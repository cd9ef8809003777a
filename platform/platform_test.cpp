#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "tests/scratch_dir.h"

namespace qv::platform {
namespace {

using PlatformTest = qvtest::ScratchDirTest;

TEST_F(PlatformTest, ReadsEveryByteOfAFileAsItIs) {
  // Text mode would end at the Ctrl-Z and fold CR CR LF into CR LF.
  std::string bytes = "<a>x\x1ay</a>\r\r\n<b/>\r\n";
  for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
  write("in.xml", bytes);
  EXPECT_TRUE(readWholeFile(path("in.xml")) == bytes);
}

TEST_F(PlatformTest, ReadingFailsWithTheErrnoOfWhatWentWrong) {
  std::filesystem::create_directories(path("dir"));
  struct Case {
    std::string path;
    int errnum;
  };
  for (const Case& c : {Case{path("dir"), EISDIR}, Case{path("missing.xml"), ENOENT},
                        Case{path("missing/a.xml"), ENOENT}, Case{"", ENOENT}}) {
    try {
      readWholeFile(c.path);
      ADD_FAILURE() << c.path << " was read";
    } catch (const Failure& f) {
      EXPECT_STREQ(f.operation, "openFile") << c.path;
      EXPECT_EQ(f.errnum, c.errnum) << c.path;
    }
  }
  EXPECT_EQ(describeError(ENOENT), "No such file or directory");
  EXPECT_EQ(describeError(EISDIR), "Is a directory");
}

TEST(Platform, LargeBlocksAreUsableToTheirLastByte) {
  constexpr std::size_t kBytes = (std::size_t{5} << 20) + 3;
  auto* p = static_cast<unsigned char*>(mapLarge(kBytes));
  ASSERT_NE(p, nullptr);
  p[0] = 1;
  p[kBytes - 1] = 2;
  EXPECT_EQ(p[0] + p[kBytes - 1], 3);
  unmapLarge(p, kBytes);
}

}  // namespace
}  // namespace qv::platform
