#include "base/output.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/error.h"
#include "tests/string_sink.h"

namespace qv {
namespace {

using qvtest::StringSink;

TEST(Output, SmallBufferPassesEveryByteInOrder) {
  StringSink sink;
  Output out(sink, 7);
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    out.put(static_cast<char>('a' + i % 26));
    expected += static_cast<char>('a' + i % 26);
    out.write("0123456789abcdef");
    expected += "0123456789abcdef";
    out.fill('\t', static_cast<std::size_t>(i));
    expected.append(static_cast<std::size_t>(i), '\t');
  }
  out.flush();
  EXPECT_EQ(sink.text, expected);
}

struct FailingSink : Sink {
  void write(const char*, std::size_t) override { throw Error::io("<x>", "writeFile", ENOSPC); }
};

TEST(Output, SinkFailureSurfacesAsError) {
  FailingSink sink;
  Output out(sink, 4);
  out.write("ab");
  try {
    out.write("cdef");
    FAIL() << "a full buffer must reach the sink";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "<x>: writeFile: resource exhausted (No space left on device)");
  }
}

}  // namespace
}  // namespace qv
