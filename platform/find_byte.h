// findByte(s, c, n): the first byte c (as unsigned char) in [s, s + n), or null, as
// memchr finds it: the C library's on POSIX systems; on Windows, whose C library
// (msvcrt, and Wine's) looks at one byte at a time, a scan of 16 at a time.
#pragma once

#include <cstddef>
#include <cstring>

#if defined(_WIN32) && defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qv {

template <class Byte>
inline Byte* findByte(Byte* s, int c, std::size_t n) {
  static_assert(sizeof(Byte) == 1, "a search of bytes");
#if defined(_WIN32) && defined(__SSE2__)
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  const auto byte = static_cast<unsigned char>(c);
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  for (; n >= 16; n -= 16, p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)); hits != 0) {
      return s + (p - reinterpret_cast<const unsigned char*>(s)) +
             __builtin_ctz(static_cast<unsigned>(hits));
    }
  }
  for (; n > 0; --n, ++p) {
    if (*p == byte) return s + (p - reinterpret_cast<const unsigned char*>(s));
  }
  return nullptr;
#else
  return static_cast<Byte*>(std::memchr(s, c, n));
#endif
}

}  // namespace qv
