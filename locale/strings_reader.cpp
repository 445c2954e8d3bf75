// Strings reader: picks entries out of the converted text of a strings file.
#include "strings_reader.h"

#include "byte_search.h"
#include "po_writer.h"

#include <cstdint>
#include <cstring>

namespace {

// Moves p to the unescaped quote that closes the quoted text from p, or to the line's
// text's end where that comes first, and tells which; a backslash steps over the byte
// after it. Sets escaped where an escape other than \" \\ \n (PO reads those alike) comes.
[[gnu::always_inline]] inline bool closing_quote(char *&p, const char *end, bool &escaped) {
    for (;; p++) {
        p = first_of<'"', '\\'>(p, end);
        if (*p == '"')
            return true;
        if (*p == '\\' && !ends_text(*++p))
            escaped = escaped || (*p != '"' && *p != '\\' && *p != 'n');
        else if (ends_text(*p))
            return false;
    }
}

// The quotes of a pair (the first that is null tells where the line fails to
// hold one), where the line goes on past the value and a semicolon, and
// whether the key or the value may hold an escape PO lacks.
struct pair {
    char *key_end, *value, *value_end, *rest;
    bool escaped;
};

// Finds the pair whose key opens at line, without changing it; false when
// the line's text holds none.
bool find_pair(char *line, const char *end, pair &found) {
    found = pair{};
    char *p = line + 1;
    if (!closing_quote(p, end, found.escaped))
        return false;
    // The first quote after the key opens the value; most often " = " comes between, read
    // as one word where the search has no bound (the text then goes on past it).
    found.key_end = p++;
    uint32_t gap = 0, most_often;
    if (end == nullptr)
        std::memcpy(&gap, p, 4);
    std::memcpy(&most_often, " = \"", 4);
    if (gap == most_often) {
        p += 3;
    } else {
        while (*p == ' ' || *p == '=' || *p == '\t')
            p++;
        while (*p != '"' && !ends_text(*p))
            p = first_of<'"', '"'>(p + 1, end);
    }
    if (*p != '"')
        return false;
    found.value = p++;
    if (!closing_quote(p, end, found.escaped))
        return false;
    found.value_end = p;
    found.rest = p + 1 + (p[1] == ';');
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

// Tells whether a line without an entry looks meant to hold one, and why it
// holds none; a value missing where the next line held begins with =, after
// blanks, is on it (the zero byte after the text held stops the blanks).
[[gnu::noinline]] bool looks_meant(char *line, char *buffer, const strings_position &at,
                                   passed_over &why) {
    char *start = skip_blanks(line);
    if (*start == '"') {
        // The line begins with a quote, or holds a whole entry after blanks.
        pair found;
        bool whole = find_pair(start, buffer + at.end, found);
        why = whole                      ? passed_over::indented
              : found.key_end == nullptr ? passed_over::key_not_closed
              : found.value == nullptr
                  ? (*skip_blanks(buffer + at.next) == '=' ? passed_over::value_on_next_line
                                                           : passed_over::no_value)
                  : passed_over::value_not_closed;
        return whole == (start != line);
    }
    char *p = start;
    while (is_word(*p))
        p++;
    why = passed_over::unquoted_key;
    return p != start && *(p = skip_blanks(p)) == '=' && *skip_blanks(p + 1) == '"';
}

// Follows the line's text from p, inside a comment where open is set, as the
// platform reads it: quoted text ends at its closing quote or the line's end,
// a comment opens at a /* outside it and closes at the first */, and a //
// outside both ends what is read. Returns where reading ended: at the end of
// the line's text, or at a //; open tells whether a comment is open there,
// opened is set where one opens, and entry where a whole entry follows the
// */ that closes one.
char *follow(char *p, const char *end, bool &open, bool &opened, bool &entry) {
    for (bool escaped = false;;) {
        if (open) {
            p = first_of<'*', '*'>(p, end);
            if (*p == '*' && p[1] == '/') {
                open = false;
                pair found;
                char *q = skip_blanks(p += 2);
                entry = entry || (*q == '"' && find_pair(q, end, found));
                continue;
            }
        } else if (*(p = first_of<'"', '/'>(p, end)) == '"') {
            if (!closing_quote(++p, end, escaped))
                return p;
        } else if (*p == '/' && (p[1] == '*' || p[1] == '/')) {
            if (p[1] == '/')
                return p;
            open = opened = true;
            p++;
        }
        if (ends_text(*p))
            return p;
        p++;
    }
}

// How the line taken ends: at its line end, where the stream ended, or past
// line_size, the rest of it passed over.
enum class line_end_kind { whole, cut, too_long };

// Finds where the line at the front of the text held, read up to read_to, ends (at its LF
// or CR, or where the text held ends), and sets how. False where it is to be scanned again:
// more was read after the text held, moved to the front (its end is not held, or is a CR
// that ends what was read and an LF may follow, or nothing but blanks follows it, so that
// the next line's first bytes are held when this one is looked at), it was cut at
// line_size, or the rest skipped.
[[gnu::noinline]] QUORVEL_BUFFER(2, 3) bool settle(FILE *strings, char *buffer, size_t bufsize,
                                                   strings_position &at, size_t most, char *read_to,
                                                   line_end_kind &how) {
    char *line = buffer + at.next, *end = buffer + at.end, *stop_at = read_to;
    while (*(stop_at = first_of<'\r', '\r'>(stop_at, end)) != '\n' && *stop_at != '\r' &&
           stop_at != end)
        stop_at++;
    size_t held = at.end - at.next;
    bool cr_last = *stop_at == '\r' && stop_at + 1 == end && !at.ended;
    bool goes_on = stop_at == end || cr_last;
    char *after = stop_at + (stop_at == end ? 0 : *stop_at == '\r' && stop_at[1] == '\n' ? 2 : 1);
    if ((goes_on || skip_blanks(after) == end) && held <= most && !at.ended) {
        std::memmove(buffer, line, held);
        at.next = 0;
        size_t got = std::fread(buffer + held, 1, bufsize - 1 - held, strings);
        buffer[at.end = held + got] = '\0';
        at.ended = got == 0;
        return false;
    }
    if (at.skipping) {
        // The line passed over is told of once its end is read, or the stream's.
        at.next = static_cast<size_t>((cr_last ? stop_at : after) - buffer);
        at.skipping = goes_on && !at.ended;
        if (!at.skipping && at.passed != nullptr)
            at.passed(at.context, at.line, at.skipped, goes_on);
        return false;
    }
    how = static_cast<size_t>(after - line) > most ? line_end_kind::too_long
          : stop_at != end                         ? line_end_kind::whole
                                                   : line_end_kind::cut;
    if (how == line_end_kind::too_long && read_to > line + most) {
        line[most] = '\0';
        return false;
    }
    at.skipping = how == line_end_kind::too_long && goes_on;
    at.next = static_cast<size_t>((at.skipping ? line + most : after) - buffer);
    return true;
}

// The LF that ends the line from line, where its text ends at p before an
// LF or CR LF and it is shorter than most; null otherwise.
[[gnu::always_inline]] inline char *line_ends(char *p, const char *line, size_t most) {
    if (*p == '\r' && p[1] == '\n')
        p++;
    return *p == '\n' && static_cast<size_t>(p - line) < most ? p : nullptr;
}

// Ends the key and the value found on text with zero bytes and sets id and str to them;
// the pair is as msgfmt takes it until finish finds otherwise.
void take(strings_position &at, char *text, const pair &found, char **id, char **str) {
    *found.key_end = *found.value_end = '\0';
    at.fuzzy = newline_mismatch::none;
    *id = text + 1;
    *str = found.value + 1;
    at.ends[0] = found.key_end;
    at.ends[1] = found.value_end;
}

// Rewrites the texts of the entry taken where one may hold an escape PO lacks,
// judges whether msgfmt would refuse the pair, and names it where tell is set
// and it is refused or an empty key; returns 1.
[[gnu::noinline]] int finish(strings_position &at, char *id, char *str, bool escaped, bool tell,
                             bool cut) {
    if (escaped) {
        at.ends[0] = po_text(id);
        at.ends[1] = po_text(str);
    }
    at.fuzzy = refused_by_msgfmt(id, at.ends[0], str, at.ends[1]);
    if (tell && (*id == '\0' || at.fuzzy != newline_mismatch::none))
        at.passed(at.context, at.line, *id == '\0' ? passed_over::empty_key : finding(at.fuzzy),
                  cut);
    return 1;
}

// Tells of the line taken, as cut where the stream ended in it; where its
// rest is still to be passed over, once that is read (see settle).
[[gnu::noinline]] void tell_of_line(strings_position &at, passed_over why, bool cut) {
    if (at.skipping)
        at.skipped = why;
    else
        at.passed(at.context, at.line, why, cut);
}

// Reads as read_strings does, every line followed as the platform reads it.
[[gnu::noinline]] int read_lines(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                                 strings_position &at) {
    size_t most = at.line_size < bufsize - 2 ? at.line_size : bufsize - 2;
    bool tell = at.passed != nullptr;
    buffer[at.end] = '\0';
    for (;;) {
        if (at.next == at.end && at.ended)
            return 0;
        char *line = buffer + at.next, *end = buffer + at.end;
        // The line is followed as the platform reads it, from its start, or
        // past an entry at its start and a semicolon.
        bool open = at.comment != 0, opened = false, after = false;
        char *text = line + (!open && std::strncmp(line, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0);
        pair found;
        bool entry = !open && *text == '"' && find_pair(text, end, found);
        char *read_to = entry ? found.rest : text;
        if (!ends_text(*read_to))
            read_to = follow(read_to, end, open, opened, after);
        line_end_kind how = line_end_kind::whole;
        if (*read_to == '\n' && static_cast<size_t>(read_to - line) < most && !at.skipping &&
            skip_blanks(read_to + 1) != end)
            at.next = static_cast<size_t>(read_to + 1 - buffer);
        else if (!settle(strings, buffer, bufsize, at, most, read_to, how))
            continue;
        at.line++;
        bool cut = how == line_end_kind::cut;
        passed_over why = passed_over::too_long;
        // A comment opened on the line and left open is the one open after
        // it, but on a line too long, whose part not read could close it.
        bool inside = at.comment != 0;
        if (!open)
            at.comment = 0;
        else if (opened)
            at.comment = how == line_end_kind::too_long ? 0 : at.line;
        // A line that begins inside a comment is part of it, but for what
        // follows the comment's end.
        if (inside) {
            if (tell && (how == line_end_kind::too_long || after))
                tell_of_line(at, after ? passed_over::after_comment : why, cut);
            continue;
        }
        if (tell && (how == line_end_kind::too_long ||
                     (!entry && (looks_meant(text, buffer, at, why) ||
                                 (after && (why = passed_over::after_comment, true))))))
            tell_of_line(at, why, cut);
        if (entry) {
            take(at, text, found, id, str);
            return finish(at, *id, *str, found.escaped, tell && how != line_end_kind::too_long,
                          cut);
        }
        // An XML property list is the other form that the platform reads.
        if (std::strncmp(text, "<plist", 6) == 0 || std::strncmp(text, "<!DOCTYPE plist", 15) == 0)
            at.property_list = true;
    }
}

} // namespace

// What read_strings calls is copied in (not read_lines, finish), but for clang's builds, for size.
#if !defined(__clang__)
[[gnu::flatten]]
#endif
int read_strings(FILE *strings, char *buffer, size_t bufsize, char **id, char **str,
                 strings_position *position) {
    if (bufsize < 3)
        return 0;
    strings_position &at = *position;
    // Most lines are blank, a comment or an entry not to be named, alone on a
    // line ending in LF or CR LF: those are taken here, all others by read_lines
    // up to the next entry. A zero byte 16 bytes before the end of the text held,
    // the byte there kept aside, stops every search here, which tests no bound.
    if (at.comment == 0 && !at.skipping && at.line_size != 0 && at.end - at.next > 16) {
        size_t most = at.line_size < bufsize - 2 ? at.line_size : bufsize - 2;
        char *line = buffer + at.next, *stop = buffer + at.end - 16, kept = *stop;
        *stop = '\0';
        for (char *p;; line = p + 1, at.line++) {
            pair found;
            if (*(p = line) == '\n')
                continue;
            if (*p == '"' && find_pair(p, nullptr, found)) {
                if ((p = line_ends(found.rest, line, most)) == nullptr)
                    break;
                *stop = kept;
                at.line++;
                at.next = static_cast<size_t>(p + 1 - buffer);
                take(at, line, found, id, str);
                if (found.escaped ||
                    may_need_a_look(line + 1, found.key_end, found.value + 1, found.value_end))
                    return finish(at, *id, *str, found.escaped, at.passed != nullptr, false);
                return 1;
            }
            if (p[0] == '/' && p[1] == '*') {
                p = first_of<'*', '*'>(p + 2, nullptr);
                p = p[0] == '*' && p[1] == '/' ? p + 2 : stop;
            } else if (*p != '\r') {
                break;
            }
            if ((p = line_ends(p, line, most)) == nullptr)
                break;
        }
        *stop = kept;
        at.next = static_cast<size_t>(line - buffer);
    }
    return read_lines(strings, buffer, bufsize, id, str, at);
}
