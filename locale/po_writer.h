// PO writer: the lines of a gettext message catalogue.
#ifndef QUORVEL_PO_WRITER_H
#define QUORVEL_PO_WRITER_H

#include <cstdio>

// Writes one PO line: the keyword what, a blank and s, a key or value of a
// strings file, in double quotes. The text is copied byte for byte, its
// escapes among it where a PO file reads them alike (\" \\ \n \t \r \a \b \f
// \v and octal); the others become what the strings file means by them: \U
// and hex digits a UTF-16 code unit, anything else the character after the
// backslash. Write errors are left in the stream's error state for the
// caller to check.
void write_po(FILE *po, const char *what, const char *s);

#endif
