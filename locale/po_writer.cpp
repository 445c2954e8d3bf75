// PO writer: the lines of a gettext message catalogue.
#include "po_writer.h"

void write_po(FILE *po, const char *what, const char *s) {
    std::fprintf(po, "%s \"%s\"\n", what, s);
}
