// The converter: the system's iconv utility, run as a child process whose
// output, the strings file's text in UTF-8, the tool reads through a stream.
#ifndef QUORVEL_CONVERTER_H
#define QUORVEL_CONVERTER_H

#include <cstdio>
#include <sys/types.h>

class converter {
  public:
    converter() = default;
    ~converter() { finish(); }
    converter(const converter &) = delete;
    converter &operator=(const converter &) = delete;

    // Starts "iconv -f encoding -t utf-8 path" without a shell. Returns 0, or
    // the errno value that kept the converter from starting.
    int start(const char *path, const char *encoding);

    // The converter's output; null until it has started.
    FILE *stream() const { return stream_; }

    // Closes the stream, then waits for the converter to end, so that one
    // that is still writing ends on a broken pipe rather than blocking. Returns
    // its wait status, or -1 when there is no converter to wait for.
    int finish();

  private:
    FILE *stream_ = nullptr;
    pid_t pid_ = -1;
};

// Chooses the converter's source encoding from the first bytes of the strings
// file; anything but a regular file keeps UTF-16. Returns null, with errno
// set, when the file cannot be read.
const char *source_encoding(const char *path);

#endif
