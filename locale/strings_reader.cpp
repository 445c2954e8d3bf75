// Strings reader: picks entries out of the converted text of a strings file.
#include "strings_reader.h"

#include <climits>
#include <cstring>

namespace {

// Returns the unescaped double quote that closes the text starting at p, or
// null when the line's text ends first. A backslash steps over the byte after
// it, but never over the zero byte that ends the text.
char *closing_quote(char *p) {
    for (;; p += 2) {
        p = std::strpbrk(p, "\"\\");
        if (p == nullptr || *p == '"')
            return p;
        if (p[1] == '\0')
            return nullptr;
    }
}

// Passes over a UTF-8 byte-order mark at the start of a line. Compared byte by
// byte so that a shorter text is never read past its zero byte.
char *skip_bom(char *line) {
    bool bom = line[0] == '\xEF' && line[1] == '\xBB' && line[2] == '\xBF';
    return bom ? line + 3 : line;
}

// Picks the entry out of one line, in place; false when the line holds none.
bool scan_line(char *line, char **id, char **str) {
    if (line[0] != '"')
        return false;
    char *key_end = closing_quote(line + 1);
    if (key_end == nullptr)
        return false;
    char *value = std::strchr(key_end + 1, '"');
    if (value == nullptr)
        return false;
    char *value_end = closing_quote(value + 1);
    if (value_end == nullptr)
        return false;
    *key_end = '\0';
    *value_end = '\0';
    *id = line + 1;
    *str = value + 1;
    return true;
}

} // namespace

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str) {
    if (bufsize < 2)
        return 0;
    // Room for the rest of a line after its first byte, the zero included.
    int rest = bufsize > INT_MAX ? INT_MAX : static_cast<int>(bufsize - 1);
    for (;;) {
        // The first byte is taken alone: an empty line then costs no copy and
        // no library call. The rest of the line follows it into the buffer.
        int first = getc_unlocked(strings);
        if (first == EOF)
            return 0;
        if (first == '\n')
            continue;
        buffer[0] = static_cast<char>(first);
        if (rest < 2 || std::fgets(buffer + 1, rest, strings) == nullptr)
            buffer[1] = '\0';
        if (scan_line(skip_bom(buffer), id, str))
            return 1;
    }
}
