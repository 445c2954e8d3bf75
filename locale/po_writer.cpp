// PO writer: the lines of a gettext message catalogue.
#include "po_writer.h"

#include <cstring>

void write_po(FILE *po, const char *what, const char *s) {
    size_t what_size = std::strlen(what), s_size = std::strlen(s);
    // A line is put together here and handed to the stream in one call, which
    // costs less than parsing a format or calling the stream for each piece.
    char line[1024];
    if (what_size + s_size + 4 > sizeof line) {
        std::fwrite(what, 1, what_size, po);
        std::fwrite(" \"", 1, 2, po);
        std::fwrite(s, 1, s_size, po);
        std::fwrite("\"\n", 1, 2, po);
        return;
    }
    char *end = line;
    std::memcpy(end, what, what_size);
    end += what_size;
    *end++ = ' ';
    *end++ = '"';
    std::memcpy(end, s, s_size);
    end += s_size;
    *end++ = '"';
    *end++ = '\n';
    std::fwrite(line, 1, static_cast<size_t>(end - line), po);
}
