// PO writer: the lines of a gettext message catalogue.
#ifndef QUORVEL_PO_WRITER_H
#define QUORVEL_PO_WRITER_H

#include <cstdio>

// Writes one PO line: the keyword what, a blank and s in double quotes. The
// text is copied byte for byte; write errors are left in the stream's error
// state for the caller to check.
void write_po(FILE *po, const char *what, const char *s);

// Whether a PO file reads the escape of c, the byte after a backslash, as a
// strings file does: \" \\ \n \t \r \a \b \f \v and octal.
inline bool po_escape(char c) {
    switch (c) {
    case '"':
    case '\\':
    case 'n':
    case 't':
    case 'r':
    case 'a':
    case 'b':
    case 'f':
    case 'v':
        return true;
    default:
        return c >= '0' && c <= '7';
    }
}

// Makes a key or value of a strings file PO text, in place: the escapes that
// a PO file reads alike (\" \\ \n \t \r \a \b \f \v and octal) stay; the others
// become what the strings file means by them: \U and one to four hex digits
// a UTF-16 code unit, anything else the character after the backslash. The
// text never grows.
void po_text(char *s);

#endif
