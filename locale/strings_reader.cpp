// Strings reader: picks entries out of the converted text of a strings file.
#include "strings_reader.h"

#include "po_writer.h"

#include <cstring>

namespace {

// Returns the unescaped double quote that closes the text starting at p, or
// null when the line's text ends first; sets escaped where an escape that PO
// lacks comes first. The quote is found first and backslashes before it
// after: strchr and memchr are fast everywhere, and most texts hold none.
[[gnu::always_inline]] inline char *closing_quote(char *p, bool &escaped) {
    for (;;) {
        char *quote = std::strchr(p, '"');
        if (quote == nullptr)
            return nullptr;
        auto *escape = static_cast<char *>(std::memchr(p, '\\', static_cast<size_t>(quote - p)));
        if (escape == nullptr)
            return quote;
        escaped = escaped || !po_escape(escape[1]);
        p = escape + 2; // at most the quote: the zero byte lies beyond it
    }
}

// Passes over a UTF-8 byte-order mark, never past the text's zero byte.
char *skip_bom(char *line) {
    bool bom = line[0] == '\xEF' && line[1] == '\xBB' && line[2] == '\xBF';
    return bom ? line + 3 : line;
}

// The quotes of a pair (the first that is null tells where the line fails to
// hold one), and whether the key and the value hold an escape PO lacks.
struct pair {
    char *key_end = nullptr, *value = nullptr, *value_end = nullptr;
    bool escaped[2] = {false, false};
};

// Finds the pair without changing the line; false when it holds none.
[[gnu::always_inline]] inline bool find_pair(char *line, pair &found) {
    found.key_end = closing_quote(line + 1, found.escaped[0]);
    found.value = found.key_end != nullptr ? std::strchr(found.key_end + 1, '"') : nullptr;
    found.value_end =
        found.value != nullptr ? closing_quote(found.value + 1, found.escaped[1]) : nullptr;
    return found.value_end != nullptr;
}

// Picks the entry out of one line, in place; returns where the line goes on
// after the value, or null where it holds no entry. Only a key or value with
// an escape that PO lacks is rewritten; their zero bytes go to ends.
char *scan_line(char *line, char **id, char **str, char *(&ends)[2]) {
    pair found;
    if (line[0] != '"' || !find_pair(line, found))
        return nullptr;
    *found.key_end = *found.value_end = '\0';
    *id = line + 1;
    *str = found.value + 1;
    ends[0] = found.escaped[0] ? po_text(*id) : found.key_end;
    ends[1] = found.escaped[1] ? po_text(*str) : found.value_end;
    return found.value_end + 1;
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
// differ in a leading or trailing newline, and why; not where either is empty.
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

// Whether a pair is named, and why: an empty key, gettext's header, or a pair
// that msgfmt refuses; most are told apart by their first and last bytes.
inline bool named(const char *id, const char *str, char *const (&ends)[2], passed_over &why) {
    if (*id == '\0')
        why = passed_over::empty_key;
    return *id == '\0' ||
           ((id[0] == '\\' || str[0] == '\\' || ends[0][-1] == 'n' || ends[1][-1] == 'n') &&
            refused_by_msgfmt(id, str, ends, why));
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

// Whether the next line held begins with =, after blanks.
bool split(const char *buffer, const strings_position &at) {
    size_t p = at.next;
    while (p < at.end && (buffer[p] == ' ' || buffer[p] == '\t'))
        p++;
    return p < at.end && buffer[p] == '=';
}

// Tells whether a line without an entry looks meant to hold one, and why it
// holds none; a value missing where the next line held begins with = is on it.
bool looks_meant(char *line, const char *buffer, const strings_position &at, passed_over &why) {
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
              : found.value == nullptr
                  ? (split(buffer, at) ? passed_over::value_on_next_line : passed_over::no_value)
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

// Where the comment whose text begins at p closes: past its */, or null.
char *comment_end(char *p) {
    while ((p = std::strchr(p, '*')) != nullptr && p[1] != '/')
        p++;
    return p != nullptr ? p + 2 : nullptr;
}

// Follows the line's text from p, inside a comment where open is set, as the
// platform reads it: quoted text ends at its closing quote or the line's end,
// a comment opens at a /* outside it and closes at the first */, and a //
// outside both ends the line. Returns whether a comment is open at its end;
// sets entry where a whole entry follows the */ that closes one.
bool comment_open(char *p, bool open, bool &entry) {
    for (bool escaped = false;;) {
        if (open) {
            if ((p = comment_end(p)) == nullptr)
                return true;
            open = false;
            pair found;
            char *q = skip_blanks(p);
            entry = entry || (*q == '"' && find_pair(q, found));
        } else if (*p == '"') {
            if ((p = closing_quote(p + 1, escaped)) == nullptr)
                return false;
            p++;
        } else if (*p == '/' && (p[1] == '*' || p[1] == '/')) {
            if (p[1] == '/')
                return false;
            open = true;
            p += 2;
        } else if (*p++ == '\0') {
            return false;
        }
    }
}

// Where byte c lies first in buffer from from to end; end where it does not.
[[gnu::always_inline]] inline size_t find(const char *buffer, size_t from, size_t end, char c) {
    const void *p = std::memchr(buffer + from, c, end - from);
    return p != nullptr ? static_cast<size_t>(static_cast<const char *>(p) - buffer) : end;
}

// Moves the text held to the front of buffer and reads what fits after it.
QUORVEL_BUFFER(2, 3)
void refill(FILE *strings, char *buffer, size_t bufsize, strings_position &at) {
    size_t held = at.end - at.next;
    std::memmove(buffer, buffer + at.next, held);
    at.lf -= at.next;
    at.cr -= at.next;
    at.next = 0;
    size_t got = std::fread(buffer + held, 1, bufsize - 1 - held, strings);
    at.end = held + got;
    if (at.lf == held)
        at.lf = find(buffer, held, at.end, '\n');
    if (at.cr == held)
        at.cr = find(buffer, held, at.end, '\r');
    at.ended = got == 0;
}

// How the line taken ends: at its line end, where the stream ended, or past
// line_size, the rest of it passed over.
enum class line_end { whole, cut, too_long };

// Takes the next line out of the text held, reading more where it goes on
// past it, and ends its text with a zero byte; false at the end of the text.
// The next LF and CR are found a block at a time, or a line at a time where
// lines end in them: each byte is looked at once here.
QUORVEL_BUFFER(2, 3)
bool next_line(FILE *strings, char *buffer, size_t bufsize, strings_position &at, char *&line,
               line_end &how) {
    size_t most = at.line_size < bufsize - 2 ? at.line_size : bufsize - 2;
    for (;;) {
        if (at.lf < at.next)
            at.lf = find(buffer, at.next, at.end, '\n');
        if (at.cr < at.next)
            at.cr = find(buffer, at.next, at.end, '\r');
        size_t start = at.next, stop = at.lf < at.cr ? at.lf : at.cr, held = at.end - start;
        // Most lines end at an LF that is held, with no CR before it.
        if (at.lf < at.cr && at.lf - start < most && !at.skipping) {
            at.next = at.lf + 1;
            buffer[at.lf] = '\0';
            line = buffer + start;
            how = line_end::whole;
            return true;
        }
        // Where the line end is not held, or is a CR that ends what was read
        // and that an LF may follow, more is read while the line fits.
        bool cr_last = stop + 1 == at.end && stop == at.cr && !at.ended;
        if ((stop == at.end || cr_last) && held <= most && !at.ended) {
            refill(strings, buffer, bufsize, at);
            continue;
        }
        if (held == 0)
            return false;
        size_t after = stop + (stop == at.end ? 0 : stop + 1 < at.end && at.lf == stop + 1 ? 2 : 1);
        // The rest of a line too long is passed over, up to and with its end.
        bool goes_on = stop == at.end || cr_last;
        if (at.skipping) {
            at.next = cr_last ? stop : after;
            at.skipping = goes_on;
            continue;
        }
        size_t length = after - start;
        how = length > most ? line_end::too_long : stop < at.end ? line_end::whole : line_end::cut;
        size_t text_end = how == line_end::too_long ? start + most : stop;
        at.skipping = how == line_end::too_long && goes_on;
        at.next = at.skipping ? text_end : after;
        buffer[text_end] = '\0';
        line = buffer + start;
        return true;
    }
}

} // namespace

int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) {
    if (bufsize < 3)
        return 0;
    strings_position &at = *position;
    bool tell = at.passed != nullptr;
    char *line;
    line_end how;
    while (next_line(strings, buffer, bufsize, at, line, how)) {
        at.line++;
        bool cut = how == line_end::cut, after = false;
        passed_over why = passed_over::too_long;
        // A line that begins inside a comment is part of it, but for what
        // follows the comment's end.
        if (at.comment != 0) {
            if (!comment_open(line, true, after))
                at.comment = 0;
            if (tell && (how == line_end::too_long || after))
                at.passed(at.context, at.line, after ? passed_over::after_comment : why, cut);
            continue;
        }
        char *text = skip_bom(line);
        char *rest = scan_line(text, id, str, at.ends);
        // On an entry line, only what follows the value can open a comment
        // (most often that is a semicolon alone); on a line too long, the
        // part not read could close it again.
        if ((rest == nullptr || *(rest += *rest == ';') != '\0') &&
            comment_open(rest != nullptr ? rest : text, false, after) && how != line_end::too_long)
            at.comment = at.line;
        if (tell && (how == line_end::too_long ||
                     (rest != nullptr ? named(*id, *str, at.ends, why)
                                      : looks_meant(text, buffer, at, why) ||
                                            (after && (why = passed_over::after_comment, true)))))
            at.passed(at.context, at.line, why, cut);
        if (rest != nullptr)
            return 1;
        if (*text == '<' && opens_property_list(text))
            at.property_list = true;
    }
    return 0;
}
