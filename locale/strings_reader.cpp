// Strings reader: picks entries out of the converted text of a strings file.
#include "strings_reader.h"

#include "po_writer.h"

#include <climits>
#include <cstring>

namespace {

// Returns the unescaped double quote that closes the text starting at p, or
// null when the line's text ends first; sets escaped where an escape that PO
// lacks comes first. A backslash steps over the byte after it. The quote is
// found first and backslashes before it after: strchr and memchr are fast in
// every C library (musl's strpbrk goes byte by byte), and most texts hold no
// backslash at all. Inline: it is the heart of the hot path.
inline char *closing_quote(char *p, bool &escaped) {
    for (;;) {
        char *quote = std::strchr(p, '"');
        if (quote == nullptr)
            return nullptr;
        auto *escape = static_cast<char *>(std::memchr(p, '\\', static_cast<size_t>(quote - p)));
        if (escape == nullptr)
            return quote;
        escaped = escaped || !po_escape(escape[1]);
        // Past the escape and the byte it protects, at most the quote: the
        // text's zero byte lies beyond that.
        p = escape + 2;
    }
}

// Passes over a UTF-8 byte-order mark at the start of a line. Compared byte by
// byte so that a shorter text is never read past its zero byte.
char *skip_bom(char *line) {
    bool bom = line[0] == '\xEF' && line[1] == '\xBB' && line[2] == '\xBF';
    return bom ? line + 3 : line;
}

// The quotes of the pair in a line that begins with the key's opening quote;
// the first that is null tells where the line fails to hold one.
struct pair {
    char *key_end = nullptr, *value = nullptr, *value_end = nullptr;
};

// Finds the pair without changing the line; false when it holds none.
bool find_pair(char *line, pair &found) {
    bool escaped = false;
    found.key_end = closing_quote(line + 1, escaped);
    if (found.key_end == nullptr)
        return false;
    found.value = std::strchr(found.key_end + 1, '"');
    if (found.value == nullptr)
        return false;
    found.value_end = closing_quote(found.value + 1, escaped);
    return found.value_end != nullptr;
}

// Picks the entry out of one line, in place; false when the line holds none.
// The steps of find_pair, written out: this is the loop's hot path. Only a
// key or value with an escape that PO lacks is rewritten.
bool scan_line(char *line, char **id, char **str) {
    if (line[0] != '"')
        return false;
    bool key_escaped = false, value_escaped = false;
    char *key_end = closing_quote(line + 1, key_escaped);
    if (key_end == nullptr)
        return false;
    char *value = std::strchr(key_end + 1, '"');
    if (value == nullptr)
        return false;
    char *value_end = closing_quote(value + 1, value_escaped);
    if (value_end == nullptr)
        return false;
    *key_end = '\0';
    *value_end = '\0';
    *id = line + 1;
    *str = value + 1;
    if (key_escaped)
        po_text(*id);
    if (value_escaped)
        po_text(*str);
    return true;
}

// The bytes of a bare key: letters, digits and _ $ + / : . - (the range from
// + to : holds the digits, the colon and + , - . / less the comma).
bool is_word(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '+' && c <= ':' && c != ',') ||
           c == '_' || c == '$';
}

char *skip_blanks(char *p) {
    while (*p == ' ' || *p == '\t')
        p++;
    return p;
}

// Tells whether a line without an entry looks as if it was meant to hold one,
// and why it holds none.
bool looks_meant(char *line, passed_over &why) {
    // Comments, the most common lines of all, first.
    if (line[0] == '/' && line[1] == '*')
        return false;
    char *start = skip_blanks(line);
    if (*start == '"') {
        // The line begins with a quote, or holds a whole entry after blanks.
        pair found;
        if (find_pair(start, found)) {
            why = passed_over::indented;
            return start != line;
        }
        why = found.key_end == nullptr ? passed_over::key_not_closed
              : found.value == nullptr ? passed_over::no_value
                                       : passed_over::value_not_closed;
        return start == line;
    }
    char *p = start;
    while (is_word(*p))
        p++;
    if (p == start)
        return false;
    p = skip_blanks(p);
    if (*p++ != '=')
        return false;
    why = passed_over::unquoted_key;
    return *skip_blanks(p) == '"';
}

// Tells whether the line goes on past a full buffer. The buffer's last byte
// was set to a newline before the read: only a full piece puts its
// terminating zero there, and one whose last byte is a newline, or that the
// stream ends after, holds the whole line. A zero byte in the text cannot
// mislead this.
bool goes_on(FILE *strings, const char *buffer, size_t bufsize) {
    if (buffer[bufsize - 1] != '\0' || buffer[bufsize - 2] == '\n')
        return false;
    int next = getc_unlocked(strings);
    if (next == EOF)
        return false;
    ungetc(next, strings);
    return true;
}

// Passes over the rest of a line without touching the buffer, which may
// still hold the entry of its first piece.
void skip_line(FILE *strings) {
    int c;
    do
        c = getc_unlocked(strings);
    while (c != EOF && c != '\n');
}

} // namespace

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str) {
    return read_strings(strings, buffer, bufsize, id, str, nullptr);
}

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) {
    if (bufsize < 2)
        return 0;
    // Room for the rest of a line after its first byte, the zero included.
    int rest = bufsize > INT_MAX ? INT_MAX : static_cast<int>(bufsize - 1);
    long long line = position != nullptr ? position->line : 0;
    bool tell = position != nullptr && position->passed != nullptr;
    for (;;) {
        // The first byte is taken alone: an empty line then costs no copy and
        // no library call. The rest of the line follows it into the buffer.
        int first = getc_unlocked(strings);
        if (first == EOF)
            break;
        line++;
        if (first == '\n')
            continue;
        buffer[bufsize - 1] = '\n';
        buffer[0] = static_cast<char>(first);
        if (rest < 2 || std::fgets(buffer + 1, rest, strings) == nullptr)
            buffer[1] = '\0';
        bool too_long = goes_on(strings, buffer, bufsize);

        char *text = skip_bom(buffer);
        bool entry = scan_line(text, id, str);
        passed_over why = passed_over::too_long;
        if (tell && (too_long || (!entry && looks_meant(text, why)))) {
            position->line = line;
            position->passed(position->context, line, why,
                             std::feof(strings) != 0 || std::ferror(strings) != 0);
        }
        if (too_long)
            skip_line(strings);
        if (entry) {
            if (position != nullptr)
                position->line = line;
            return 1;
        }
    }
    if (position != nullptr)
        position->line = line;
    return 0;
}
