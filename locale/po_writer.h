// PO writer: the lines of a gettext message catalogue.
#ifndef QUORVEL_PO_WRITER_H
#define QUORVEL_PO_WRITER_H

#include <cstdio>

// Writes one PO line: the keyword what, a blank and s in double quotes. The
// text is copied byte for byte; write errors are left in the stream's error
// state for the caller to check.
void write_po(FILE *po, const char *what, const char *s);

#endif
