// The first byte c in [s, s + n), or null: memchr on POSIX systems; on Windows, whose C
// library (msvcrt, and Wine's) looks at one byte at a time, a scan of 16 at a time.
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
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(c));
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)));
    if (hits != 0) return s + i + __builtin_ctz(hits);
  }
  for (; i < n; ++i) {
    if (p[i] == static_cast<unsigned char>(c)) return s + i;
  }
  return nullptr;
#else
  return static_cast<Byte*>(std::memchr(s, c, n));
#endif
}

}  // namespace qv
