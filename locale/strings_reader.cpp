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
    whole,    // at its line end, or where the stream ended (feof tells)
    ended,    // at its line end, a CR
    cut,      // where the stream ended
    too_long, // past the buffer; the rest of it has been passed over
};

// Passes over the rest of a line, up to and with its line end: LF, CR LF or
// a lone CR.
[[gnu::cold]] void skip_line(FILE *strings) {
    int c;
    do
        c = getc_unlocked(strings);
    while (c != EOF && c != '\n' && c != '\r');
    if (c == '\r' && (c = getc_unlocked(strings)) != '\n' && c != EOF)
        ungetc(c, strings);
}

// Reads the rest of a line into buffer after its first have bytes, up to and
// with its LF, as fgets does, and at most to bufsize - 1 bytes; returns
// whether that fills the buffer.
QUORVEL_BUFFER(2, 3) bool read_rest(FILE *strings, char *buffer, size_t bufsize, size_t have) {
    // Only a full buffer puts fgets's zero byte at its end.
    buffer[bufsize - 1] = '\n';
    size_t room = bufsize - have;
    if (room < 2 || std::fgets(buffer + have, room > INT_MAX ? INT_MAX : static_cast<int>(room),
                               strings) == nullptr)
        buffer[have] = '\0';
    return buffer[bufsize - 1] == '\0';
}

// The length of what read_rest read into buffer after its first have
// bytes, zero bytes in the text included: up to the first LF, which fgets
// stops at, unless the stream ended first, and then up to a zero byte.
size_t read_length(FILE *strings, const char *buffer, size_t bufsize, size_t have, bool full) {
    if (full)
        return bufsize - 1;
    if (std::feof(strings) || std::ferror(strings))
        return have + std::strlen(buffer + have);
    auto *lf = static_cast<const char *>(std::memchr(buffer + have, '\n', bufsize - 1 - have));
    return static_cast<size_t>(lf - buffer) + 1;
}

// Ends the line in buffer, have bytes long, at its CR cr where that is a
// lone CR, the classic Mac OS line end; what follows it is read ahead, for
// the next lines. Else the CR ends what was read; where that filled the
// buffer, an LF may follow it.
[[gnu::cold]] line_end split_at(FILE *strings, char *buffer, char *cr, size_t have, bool full,
                                strings_position &at) {
    size_t length = static_cast<size_t>(cr - buffer) + 1;
    if (length < have) {
        at.ahead_at = length;
        at.ahead = have - length;
        at.ahead_first = buffer[length];
        at.ahead_more = full && buffer[have - 1] != '\n';
        buffer[length] = '\0';
        return line_end::ended;
    }
    int c = full ? getc_unlocked(strings) : EOF;
    if (c != '\n' && c != EOF)
        ungetc(c, strings);
    return c == '\n' ? line_end::too_long : line_end::ended;
}

// Puts the next line into buffer: what was read ahead, or the stream's next.
// Returns how it ends; false at the end of the text.
[[gnu::noinline]] QUORVEL_BUFFER(2, 3) bool next_line(FILE *strings, char *buffer, size_t bufsize,
                                                      strings_position &at, line_end &end) {
    size_t have = at.ahead;
    bool more;
    if (have > 0) {
        buffer[at.ahead_at] = at.ahead_first;
        std::memmove(buffer, buffer + at.ahead_at, have);
        more = at.ahead_more;
        at.ahead = 0;
    } else {
        // The first byte is taken alone: an empty line then costs no copy.
        int first = getc_unlocked(strings);
        if (first == EOF)
            return false;
        buffer[0] = static_cast<char>(first);
        have = 1;
        more = first != '\n';
    }
    buffer[have] = '\0';
    bool full = more && read_rest(strings, buffer, bufsize, have);
    end = line_end::whole;
    // The first CR, looked for up to fgets's zero byte; one in the text
    // hides what follows it, which is then looked at too, as is all that
    // was read where a CR is found.
    const char *first_cr = std::strchr(buffer, '\r');
    size_t cr = first_cr != nullptr ? static_cast<size_t>(first_cr - buffer) : std::strlen(buffer);
    bool hidden = buffer[cr] == '\0' && (!more  ? cr < have
                                         : full ? cr < bufsize - 1
                                                : (cr == 0 || buffer[cr - 1] != '\n') &&
                                                      !std::feof(strings) && !std::ferror(strings));
    char *found = nullptr;
    if (buffer[cr] == '\r' || hidden) {
        if (more)
            have = read_length(strings, buffer, bufsize, have, full);
        found = static_cast<char *>(std::memchr(buffer, '\r', have));
    }
    // A CR LF can only end what fgets read; any other CR ends a line.
    if (found != nullptr && (found + 2 != buffer + have || found[1] != '\n')) {
        end = split_at(strings, buffer, found, have, full, at);
    } else if (full && buffer[bufsize - 2] != '\n') {
        // A full buffer holds the whole line only where the stream ends after it.
        int next = getc_unlocked(strings);
        if (next == EOF)
            end = line_end::cut;
        else {
            ungetc(next, strings);
            skip_line(strings);
            end = line_end::too_long;
        }
    }
    return true;
}

} // namespace

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) {
    if (bufsize < 2)
        return 0;
    long long line = position->line;
    bool tell = position->passed != nullptr;
    line_end end;
    while (next_line(strings, buffer, bufsize, *position, end)) {
        line++;
        if (buffer[0] == '\n')
            continue;
        char *text = skip_bom(buffer);
        char *ends[2];
        bool entry = scan_line(text, id, str, ends);
        passed_over why = passed_over::too_long;
        if (tell && (end == line_end::too_long ||
                     (entry ? refused_by_msgfmt(*id, *str, ends, why) : looks_meant(text, why)))) {
            position->line = line;
            position->passed(position->context, line, why,
                             end == line_end::cut ||
                                 (end == line_end::whole && position->ahead == 0 &&
                                  (std::feof(strings) || std::ferror(strings))));
        }
        if (!entry && *text == '<' && opens_property_list(text))
            position->property_list = true;
        if (entry) {
            position->line = line;
            return 1;
        }
    }
    position->line = line;
    return 0;
}
