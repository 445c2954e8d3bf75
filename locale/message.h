// Messages: lines for the standard streams, put together from pieces, so
// that the tool needs no printf (whose formatting, floating point included,
// is a large part of a static binary).
#ifndef QUORVEL_MESSAGE_H
#define QUORVEL_MESSAGE_H

#include <cstdio>
#include <initializer_list>

// The decimal digits of a number after a prefix of at most 20 bytes, such as
// /dev/fd/, as a string that lives as long as this.
class decimal {
  public:
    explicit decimal(long long n, const char *prefix = "");
    decimal(const decimal &) = delete;
    decimal &operator=(const decimal &) = delete;
    const char *str() const { return begin_; }

  private:
    char digits_[44];
    char *begin_;
};

// Writes the pieces to the stream one after another; false if a write failed.
bool put(FILE *stream, std::initializer_list<const char *> pieces);

#endif
