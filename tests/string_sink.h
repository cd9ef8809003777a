// Test doubles for the byte sink: capture what a writer produces as a string.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "base/output.h"

namespace qvtest {

class StringSink : public qv::Sink {
 public:
  void write(const char* data, std::size_t size) override { text.append(data, size); }
  std::string text;
};

// Runs f(Output&) through a small buffer and returns everything it wrote.
template <class F>
std::string collect(F&& f) {
  StringSink sink;
  {
    qv::Output out(sink, 1 << 12);
    f(out);
    out.flush();
  }
  return std::move(sink.text);
}

// The bytes and line feeds of text: what a size pass must come to.
inline qv::TextSize sizeOf(const std::string& text) {
  return {text.size(), static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'))};
}

// The bytes of tests/golden/NAME, or an empty string when it cannot be read.
inline std::string readGolden(const std::string& name) {
  // Appended rather than added up: GCC 12 warns of a bound it gets wrong in
  // operator+ on a temporary string when the standard headers come precompiled.
  std::string path = QUILTVIEW_SOURCE_DIR;
  path.append("/tests/golden/").append(name);
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace qvtest
