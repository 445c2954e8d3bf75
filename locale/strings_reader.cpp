// Strings reader: picks entries out of the converted text of a strings file.
#include "strings_reader.h"

#include "po_writer.h"

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
// key or value with an escape that PO lacks is rewritten. The ends of the
// key and the value, their zero bytes, go to ends.
bool scan_line(char *line, char **id, char **str, char *(&ends)[2]) {
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
    ends[0] = key_escaped ? po_text(*id) : key_end;
    ends[1] = value_escaped ? po_text(*str) : value_end;
    return true;
}

// Whether a PO text ends with the escape \n: an odd number of backslashes
// stands before its last n.
bool ends_with_newline(const char *s, const char *end) {
    const char *p = end - 1;
    if (p <= s || *p != 'n')
        return false;
    while (p > s && p[-1] == '\\')
        p--;
    return (end - 1 - p) % 2 == 1;
}

// Tells whether msgfmt refuses a pair, as it does one whose key and value
// differ in a leading or trailing newline, and why. An empty key is the
// catalogue's header, an empty value an untranslated pair: neither is checked.
[[gnu::cold]] bool refused_by_msgfmt(const char *id, const char *str, char *const (&ends)[2],
                                     passed_over &why) {
    if (*id == '\0' || *str == '\0')
        return false;
    bool key_begins = id[0] == '\\' && id[1] == 'n', value_begins = str[0] == '\\' && str[1] == 'n';
    bool key_ends = ends_with_newline(id, ends[0]), value_ends = ends_with_newline(str, ends[1]);
    if (key_begins != value_begins)
        why = key_begins ? passed_over::key_begins_with_newline
                         : passed_over::value_begins_with_newline;
    else if (key_ends != value_ends)
        why = key_ends ? passed_over::key_ends_with_newline : passed_over::value_ends_with_newline;
    return key_begins != value_begins || key_ends != value_ends;
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

// Whether a line that holds no entry opens an XML property list, the other
// form that the platform reads strings files in.
[[gnu::cold]] bool opens_property_list(const char *line) {
    return std::strncmp(line, "<plist", 6) == 0 || std::strncmp(line, "<!DOCTYPE plist", 15) == 0;
}

// How a line read into the buffer ended.
enum class line_end {
    whole,    // at its line end, kept in the buffer
    cut,      // at the end of the stream, without a line end
    too_long, // past the buffer; the rest of it has been passed over
};

// Passes over the line end that c begins: LF, CR LF or a lone CR.
void end_line(FILE *strings, int c) {
    if (c == '\r' && (c = getc_unlocked(strings)) != '\n' && c != EOF)
        ungetc(c, strings);
}

// Reads the line whose first byte is c into buffer: at most bufsize - 1
// bytes, its line end included where that fits, and a zero byte. A line ends
// at LF, CR LF or a lone CR, the classic Mac OS line end. Byte by byte, which
// costs no more than fgets and stops at either end without reading past it.
[[gnu::noinline]] line_end read_line(FILE *strings, int c, char *buffer, size_t bufsize) {
    char *p = buffer, *last = buffer + bufsize - 1;
    line_end end = line_end::whole;
    for (;; c = getc_unlocked(strings)) {
        if (c == EOF) {
            end = line_end::cut;
            break;
        }
        if (p == last) {
            // The rest of the line, its line end included, does not fit.
            while (c != '\n' && c != '\r' && c != EOF)
                c = getc_unlocked(strings);
            end_line(strings, c);
            end = line_end::too_long;
            break;
        }
        *p++ = static_cast<char>(c);
        if (c == '\n')
            break;
        if (c == '\r') {
            // A lone CR, or CR LF, whose LF goes with it where it fits.
            if ((c = getc_unlocked(strings)) == '\n' && p < last)
                *p++ = '\n';
            else if (c == '\n')
                end = line_end::too_long;
            else if (c != EOF)
                ungetc(c, strings);
            break;
        }
    }
    *p = '\0';
    return end;
}

} // namespace

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str) {
    return read_strings(strings, buffer, bufsize, id, str, nullptr);
}

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) {
    if (bufsize < 2)
        return 0;
    long long line = position != nullptr ? position->line : 0;
    bool tell = position != nullptr && position->passed != nullptr;
    for (;;) {
        // The first byte is taken alone: an empty line then costs no copy.
        int first = getc_unlocked(strings);
        if (first == EOF)
            break;
        line++;
        if (first == '\n' || first == '\r') {
            end_line(strings, first);
            continue;
        }
        line_end end = read_line(strings, first, buffer, bufsize);

        char *text = skip_bom(buffer);
        char *ends[2];
        bool entry = scan_line(text, id, str, ends);
        passed_over why = passed_over::too_long;
        if (tell && (end == line_end::too_long ||
                     (entry ? refused_by_msgfmt(*id, *str, ends, why) : looks_meant(text, why)))) {
            position->line = line;
            position->passed(position->context, line, why, end == line_end::cut);
        }
        if (position != nullptr && !entry && *text == '<' && opens_property_list(text))
            position->property_list = true;
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
