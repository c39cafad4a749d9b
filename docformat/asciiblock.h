#pragma once

#ifdef __SSE2__
#include <emmintrin.h>

// Files are mostly ASCII: the reading skips runs of it 64 bytes at a time.
inline bool asciiBlock64(const void *bytes)
{
    const auto *from = static_cast<const char *>(bytes);
    const auto at = [from](int offset) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + offset));
    };
    return _mm_movemask_epi8(
               _mm_or_si128(_mm_or_si128(at(0), at(16)), _mm_or_si128(at(32), at(48))))
        == 0;
}
#endif
