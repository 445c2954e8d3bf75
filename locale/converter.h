// The converter: the system's iconv utility, run as a child process whose
// output, the strings file's text in UTF-8, the tool reads through a stream.
#ifndef QUORVEL_CONVERTER_H
#define QUORVEL_CONVERTER_H

#include "message.h"

#include <cstdio>
#include <sys/stat.h>
#include <sys/types.h>

// The strings file, opened by the tool before anything else is touched, so
// that a path that cannot be read fails early and is opened only once.
class strings_source {
  public:
    strings_source() = default;
    ~strings_source() { close(); }
    strings_source(const strings_source &) = delete;
    strings_source &operator=(const strings_source &) = delete;

    // Opens path for reading and chooses the encoding from its first bytes.
    // Returns 0, or the errno value (EISDIR for a directory).
    int open(const char *path);

    // A regular file goes to the converter by name, anything else (a pipe, a
    // device) on its standard input, both through the descriptor opened here.
    bool regular() const { return S_ISREG(st_.st_mode); }
    // The name under which the converter opens the regular file: fd_name,
    // /dev/fd/N, where that is this very file, else path.
    const char *name_for_converter(const char *path, const decimal &fd_name) const;
    int fd() const { return fd_; }
    const struct stat &status() const { return st_; }
    const char *encoding() const { return encoding_; }
    // What the file was read as, and why, as a failed conversion tells it.
    const char *read_as() const;
    // Whether the file reads as a PO file, as where the two paths are swapped.
    bool reads_as_po() const { return po_; }

  private:
    void close();

    int fd_ = -1;
    struct stat st_ = {};
    const char *encoding_ = "utf-16";
    bool po_ = false;
};

class converter {
  public:
    converter() = default;
    ~converter() { finish(); }
    converter(const converter &) = delete;
    converter &operator=(const converter &) = delete;

    // Starts "iconv -f ENCODING -t utf-8 NAME" without a shell, NAME naming the
    // file the source opened, or with the source on its standard input where
    // it is not a regular file; quiet: with its standard error on /dev/null.
    // Returns 0, or the errno value that kept the converter from starting.
    int start(const char *path, const strings_source &source, bool quiet);

    // The converter's output; null until it has started.
    FILE *stream() const { return stream_; }

    // Closes the stream and waits for the converter to end. One whose output
    // was not read to its end is killed first: it may be reading a pipe or a
    // device that never ends. Returns its wait status, or -1 when there is no
    // converter to wait for.
    int finish();

  private:
    FILE *stream_ = nullptr;
    pid_t pid_ = -1;
};

// Chooses the converter's source encoding from the first bytes of a strings
// file; count is how many of them there are (at most four are looked at).
const char *source_encoding(const unsigned char *head, size_t count);

#endif
