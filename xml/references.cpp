#include "xml/references.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/find_byte.h"

namespace qv {
namespace {

constexpr char32_t kMaxCode = 0x10FFFF;

}  // namespace

std::size_t foldLineEnds(char* const begin, std::size_t size) {
  char* const end = begin + size;
  char* in = findByte(begin, '\r', size);
  if (in == nullptr) return size;
  char* out = in;
  while (in < end) {
    // in is at a carriage return.
    *out++ = '\n';
    ++in;
    if (in < end && *in == '\n') ++in;
    char* next = findByte(in, '\r', static_cast<std::size_t>(end - in));
    if (next == nullptr) next = end;
    std::memmove(out, in, static_cast<std::size_t>(next - in));
    out += next - in;
    in = next;
  }
  return static_cast<std::size_t>(out - begin);
}

std::optional<char32_t> resolveReference(std::string_view name) {
  if (name == "lt") return U'<';
  if (name == "gt") return U'>';
  if (name == "amp") return U'&';
  if (name == "apos") return U'\'';
  if (name == "quot") return U'"';
  if (name.size() < 2 || name[0] != '#') return std::nullopt;
  const bool hex = name[1] == 'x';
  std::size_t i = hex ? 2 : 1;
  if (i == name.size()) return std::nullopt;
  std::uint32_t code = 0;
  for (; i < name.size(); ++i) {
    const char c = name[i];
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    // Saturating just past the limit keeps long runs of leading zeros valid
    // while no run of digits can overflow.
    code = std::min<std::uint32_t>(code * (hex ? 16 : 10) + digit, kMaxCode + 1);
  }
  if (code > kMaxCode) return std::nullopt;
  return static_cast<char32_t>(code);
}

}  // namespace qv
