// Strings reader: picks entries out of the converted text of a strings file.
#ifndef QUORVEL_STRINGS_READER_H
#define QUORVEL_STRINGS_READER_H

#include "po_writer.h"

#include <cstddef>
#include <cstdio>

// Tells the compiler that a parameter is a buffer of the size that another
// gives, so that fortified calls on it are checked against that size.
#if defined(__has_attribute)
#if __has_attribute(access)
#define QUORVEL_BUFFER(buffer, size) __attribute__((access(read_write, buffer, size)))
#endif
#endif
#ifndef QUORVEL_BUFFER
#define QUORVEL_BUFFER(buffer, size)
#endif

// The longest line, with its line end, that the reader takes whole.
const size_t longest_line = 8191;

// Why a line that looks as if it was meant to hold an entry yields none; or,
// from key_begins_with_newline on, why the pair it yields is named, which is
// kept: msgfmt would refuse it, so it is written fuzzy (in the order of
// newline_mismatch), or gettext takes it for the header.
enum class passed_over {
    key_not_closed,            // begins with a quote, but the key does not end on the line
    no_value,                  // a key, but no quote opens a value after it
    value_on_next_line,        // the same, and the next line begins with =: "k"\n= "v";
    value_not_closed,          // the value does not end on the line
    indented,                  // a whole entry, after blanks or tabs
    unquoted_key,              // a bare word for a key: Name = "value";
    after_comment,             // a whole entry after a comment on its line
    comment_not_closed,        // a comment opened here is open at the end of the text
    too_long,                  // longer than line_size: entries in it may be lost
    key_begins_with_newline,   // the key begins with \n, the value does not
    value_begins_with_newline, // the value begins with \n, the key does not
    key_ends_with_newline,     // the key ends with \n, the value does not
    value_ends_with_newline,   // the value ends with \n, the key does not
    empty_key,                 // "" = "value": msgid "" is the catalogue's header
};

// The finding for a pair that msgfmt would refuse.
inline passed_over finding(newline_mismatch how) {
    return static_cast<passed_over>(static_cast<int>(passed_over::key_begins_with_newline) - 1 +
                                    static_cast<int>(how));
}
static_assert(static_cast<int>(passed_over::value_ends_with_newline) -
                      static_cast<int>(passed_over::key_begins_with_newline) ==
                  static_cast<int>(newline_mismatch::value_ends) -
                      static_cast<int>(newline_mismatch::key_begins),
              "passed_over holds newline_mismatch's cases in its order");

// The reader's place in the text, and whom it tells of passed-over lines.
// A line is cut when the stream ended in it, before its line end: it may be
// whole, or the converter may have failed in the middle of it.
struct strings_position {
    long long line = 0; // the number of the line read last, from 1
    void (*passed)(void *context, long long line, passed_over why, bool cut) = nullptr;
    void *context = nullptr;
    bool property_list = false; // a line that opens an XML property list was read
    long long comment = 0;      // the line that opened a /* comment still open; 0: none
    char *ends[2] = {};         // the zero bytes that end the last entry's id and str
    // Where msgfmt would refuse the last entry, how: it is then written fuzzy.
    newline_mismatch fuzzy = newline_mismatch::none;
    size_t line_size = longest_line;
    // The text read and not yet taken lies in the buffer from next to end.
    size_t next = 0, end = 0;
    bool ended = false;    // the stream has no more
    bool skipping = false; // the line taken last goes on past what was scanned of it
    passed_over skipped = passed_over::too_long; // what is told of it once its end is read
};

// Reads the text of strings into buffer, a block at a time (bufsize - 1
// bytes less what a line that a read cut left), until a line holds an entry:
// a line of the form "key" = "value"; whose first byte is the key's opening
// quote (after a UTF-8 byte-order mark, which converters may hand on at the
// start), outside a /* */ comment. A line ends at LF, CR LF or a lone CR; a
// zero byte in it ends its text. The closing quotes are overwritten with zero
// bytes; id and str are set to the key and the value inside buffer, valid
// until the next call, each made PO text (po_text): its escapes kept where a
// PO file reads them alike; position->fuzzy tells whether msgfmt would refuse
// the pair. A line longer than position->line_size bytes,
// its line end included, is scanned in its first line_size bytes only (the
// buffer must be larger by two at least); the rest of it is passed over.
// Returns nonzero for an entry, zero at the end of the stream or on a read
// error (ferror tells which).
// The reader's place in the text is position, which the calls on one stream
// share from its start: it counts the lines, tells whether a comment is open,
// and calls position->passed, where set, for every line passed over that
// looks meant to hold an entry and every pair that it names.
int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) QUORVEL_BUFFER(2, 3);

#endif
