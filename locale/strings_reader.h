// Strings reader: picks entries out of the converted text of a strings file.
#ifndef QUORVEL_STRINGS_READER_H
#define QUORVEL_STRINGS_READER_H

#include <cstddef>
#include <cstdio>

// Tells the compiler that a parameter is a buffer of the size that another
// gives, so that fortified calls on it are checked against that size.
#if defined(__has_attribute)
#if __has_attribute(access)
#define QUORVEL_BUFFER(buffer, size) __attribute__((access(write_only, buffer, size)))
#endif
#endif
#ifndef QUORVEL_BUFFER
#define QUORVEL_BUFFER(buffer, size)
#endif

// Why a line that looks as if it was meant to hold an entry yields none; or,
// for the last four, why msgfmt refuses the pair it yields, which is kept.
enum class passed_over {
    key_not_closed,            // begins with a quote, but the key does not end on the line
    no_value,                  // a key, but no quote opens a value after it
    value_not_closed,          // the value does not end on the line
    indented,                  // a whole entry, after blanks or tabs
    unquoted_key,              // a bare word for a key: Name = "value";
    too_long,                  // longer than the buffer: entries in it may be lost
    key_begins_with_newline,   // the key begins with \n, the value does not
    value_begins_with_newline, // the value begins with \n, the key does not
    key_ends_with_newline,     // the key ends with \n, the value does not
    value_ends_with_newline,   // the value ends with \n, the key does not
};

// The reader's place in the text, and whom it tells of passed-over lines.
// A line is cut when the stream ended in it, before its newline: it may be
// whole, or the converter may have failed in the middle of it.
struct strings_position {
    long long line = 0; // the number of the line read last, from 1
    void (*passed)(void *context, long long line, passed_over why, bool cut) = nullptr;
    void *context = nullptr;
    bool property_list = false; // a line that opens an XML property list was read
    // What a read took in past a lone CR: ahead bytes from ahead_at in the
    // buffer, the first of them kept in ahead_first while the line before
    // ends there, and whether their last line goes on in the stream.
    size_t ahead_at = 0, ahead = 0;
    char ahead_first = 0;
    bool ahead_more = false;
};

// Reads lines from strings into buffer until one holds an entry, a line of the
// form "key" = "value"; whose first byte is the key's opening quote (after a
// UTF-8 byte-order mark, which converters may hand on at the start). A line
// ends at LF, CR LF or a lone CR. The closing quotes are overwritten with
// zero bytes; id and str are set to the key and the value inside buffer,
// valid until the next call, each made PO text (po_text): its escapes kept
// where a PO file reads them alike. A line longer than bufsize - 1 bytes, its
// line end included, is scanned in its first bufsize - 1 bytes only; the rest
// of it is passed over. Returns nonzero for an entry, zero at the end of the
// stream or on a read error (ferror tells which). The stream is read without
// taking its lock: it must not be shared with another thread.
// The reader's place in the text is position, which the calls on one stream
// share from its start: it holds what was read ahead, counts the lines, and
// calls position->passed, where set, for every line passed over that looks
// meant to hold an entry and every pair that msgfmt would refuse.
int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) QUORVEL_BUFFER(2, 3);

#endif
