// Byte search: finds the first of a few bytes in text, many bytes at a time
// where the machine compares them together.
#ifndef QUORVEL_BYTE_SEARCH_H
#define QUORVEL_BYTE_SEARCH_H

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// A line's text ends at its line end or at a zero byte.
[[gnu::always_inline]] inline bool ends_text(char c) {
    return c == '\0' || c == '\n' || c == '\r';
}

// Where the first byte from p lies that is a, b or at most \r (the bytes that
// end a line's text among them): 16 bytes at a time while they lie before end,
// where the machine compares them together, a word at a time elsewhere, then
// a byte at a time. One such byte must lie at end or before it; where end is
// null, one must lie ahead, and the 15 bytes after it must be readable, so
// that no bound is tested.
template <char a, char b> [[gnu::always_inline]] inline char *first_of(char *p, const char *end) {
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(a), second = _mm_set1_epi8(b), low = _mm_set1_epi8('\r');
    // The bound is tested at the end of a round: built for size, a loop that
    // tests it first works out end - p and jumps back every round.
    if (end == nullptr || end - p >= 16) {
        for (const char *last = end != nullptr ? end - 16 : nullptr;; p += 16) {
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            // Bytes at most \r are those that \r taken from leaves at zero.
            __m128i hit = _mm_cmpeq_epi8(_mm_subs_epu8(v, low), _mm_setzero_si128());
            hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, first));
            if (a != b)
                hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, second));
            if (int bits = _mm_movemask_epi8(hit))
                return p + __builtin_ctz(static_cast<unsigned>(bits));
            if (end != nullptr && p + 16 > last)
                break;
        }
        p += 16;
    }
#elif defined(__ARM_NEON) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    using bytes = unsigned char __attribute__((vector_size(16)));
    for (; end == nullptr || end - p >= 16; p += 16) {
        bytes v;
        std::memcpy(&v, p, 16);
        auto hit = (v <= '\r') | (v == static_cast<unsigned char>(a)) |
                   (v == static_cast<unsigned char>(b));
        uint64_t half[2];
        std::memcpy(half, &hit, 16);
        if ((half[0] | half[1]) != 0)
            return p +
                   (half[0] != 0 ? __builtin_ctzll(half[0]) : 64 + __builtin_ctzll(half[1])) / 8;
    }
#else
    // A word at a time: a byte less than 14, or one equal to a or b, makes
    // the word's test nonzero; the byte itself is then found one by one.
    using word = unsigned long;
    const word ones = ~word(0) / 255, highs = ones * 0x80;
    const word first = ones * static_cast<unsigned char>(a),
               second = ones * static_cast<unsigned char>(b);
    for (; end == nullptr || end - p >= static_cast<long>(sizeof(word)); p += sizeof(word)) {
        word w, wa, wb;
        std::memcpy(&w, p, sizeof w);
        wa = w ^ first;
        wb = w ^ second;
        if ((((w - ones * 14) & ~w) | ((wa - ones) & ~wa) | ((wb - ones) & ~wb)) & highs)
            break;
    }
#endif
    while (*p != a && *p != b && static_cast<unsigned char>(*p) > '\r')
        p++;
    return p;
}

#endif
