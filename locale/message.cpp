// Messages: lines for the standard streams, put together from pieces.
#include "message.h"

#include <cstring>

decimal::decimal(long long n, const char *prefix) {
    char *p = digits_ + sizeof digits_;
    *--p = '\0';
    // Counted in the negative, which holds the smallest number too.
    long long rest = n < 0 ? n : -n;
    do {
        *--p = static_cast<char>('0' - rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (n < 0)
        *--p = '-';
    size_t size = std::strlen(prefix);
    begin_ = static_cast<char *>(std::memcpy(p - size, prefix, size));
}

bool put(FILE *stream, std::initializer_list<const char *> pieces) {
    bool written = true;
    for (const char *piece : pieces)
        written = std::fputs(piece, stream) != EOF && written;
    return written;
}
