// memchr for the Windows build. The C library it links with (msvcrt, and Wine's)
// looks at one byte at a time, where glibc looks at 32: the reader and the label
// writers search every byte of the document and of the page this way, and that
// was a tenth of a run under Wine. This one looks at 16 at a time (SSE2, which
// every x86-64 processor has), and reads nothing outside [s, s + n).
#include <emmintrin.h>

#include <cstddef>

extern "C" void* memchr(const void* s, int c, std::size_t n) {
  const auto* p = static_cast<const unsigned char*>(s);
  const auto byte = static_cast<unsigned char>(c);
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  for (; n >= 16; n -= 16, p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(block, wanted)); hits != 0) {
      return const_cast<unsigned char*>(p + __builtin_ctz(static_cast<unsigned>(hits)));
    }
  }
  for (; n > 0; --n, ++p) {
    if (*p == byte) return const_cast<unsigned char*>(p);
  }
  return nullptr;
}
