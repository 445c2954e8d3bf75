// Strings reader: picks entries out of the converted text of a strings file.
#ifndef QUORVEL_STRINGS_READER_H
#define QUORVEL_STRINGS_READER_H

#include <cstddef>
#include <cstdio>

// Reads lines from strings into buffer until one holds an entry, a line of the
// form "key" = "value"; whose first byte is the key's opening quote (after a
// UTF-8 byte-order mark, which converters may hand on at the start). The
// closing quotes are overwritten with zero bytes; id and str are set to the key
// and the value inside buffer, valid until the next call. Backslash sequences
// are kept as they stand. Returns nonzero for an entry, zero at the end of the
// stream or on a read error (ferror tells which). The stream is read without
// taking its lock: it must not be shared with another thread.
int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str);

#endif
