// PO writer: the lines of a gettext message catalogue.
#include "po_writer.h"

#include "message.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// The first escape from p on that a PO file lacks or reads otherwise; end
// where there is none.
const char *foreign_escape(const char *p, const char *end) {
    while ((p = static_cast<const char *>(std::memchr(p, '\\', static_cast<size_t>(end - p)))) !=
               nullptr &&
           po_escape(p[1]))
        p += 2;
    return p != nullptr ? p : end;
}

unsigned hex_digit(char c) {
    unsigned lower = static_cast<unsigned>(c | 0x20);
    return c >= '0' && c <= '9'           ? static_cast<unsigned>(c - '0')
           : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                          : 16;
}

// Reads the code unit of a \U escape at p, of one to four hex digits, into
// unit; returns where the text goes on, or p where it is no such escape.
const char *code_unit(const char *p, unsigned &unit) {
    if (p[0] != '\\' || p[1] != 'U' || hex_digit(p[2]) == 16)
        return p;
    const char *q = p + 2;
    for (unit = 0; q < p + 6 && hex_digit(*q) != 16; q++)
        unit = unit << 4 | hex_digit(*q);
    return q;
}

// Puts the escape at p as PO text into out (at most four bytes, never more
// than the escape itself); returns where the text goes on. A \U escape is
// its UTF-16 code unit, two in a row where they are a surrogate pair; any
// other escape is the character after the backslash.
const char *rewrite(const char *p, char *out, size_t &size) {
    unsigned unit, low;
    const char *next = code_unit(p, unit);
    size = 0;
    if (next == p)
        return p + 1;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        const char *after = code_unit(next, low);
        if (after != next && low >= 0xDC00 && low <= 0xDFFF) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            next = after;
        }
    }
    // What PO cannot hold: a lone surrogate and the zero character.
    if ((unit >= 0xD800 && unit <= 0xDFFF) || unit == 0)
        unit = 0xFFFD;
    // What would end the quoted text, or its line, keeps a PO escape.
    char escaped = unit == '"'    ? '"'
                   : unit == '\\' ? '\\'
                   : unit == '\n' ? 'n'
                   : unit == '\r' ? 'r'
                                  : '\0';
    if (escaped != '\0') {
        out[size++] = '\\';
        out[size++] = escaped;
    } else if (unit < 0x80) {
        out[size++] = static_cast<char>(unit);
    } else {
        static const unsigned char lead[] = {0, 0xC0, 0xE0, 0xF0};
        int extra = unit < 0x800 ? 1 : unit < 0x10000 ? 2 : 3;
        out[size++] = static_cast<char>(lead[extra] | unit >> 6 * extra);
        while (extra-- > 0)
            out[size++] = static_cast<char>(0x80u | (unit >> 6 * extra & 0x3Fu));
    }
    return next;
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

} // namespace

newline_mismatch refused_by_msgfmt(const char *id, const char *id_end, const char *str,
                                   const char *str_end) {
    if (*id == '\0' || *str == '\0')
        return newline_mismatch::none;
    bool key_begins = id[0] == '\\' && id[1] == 'n', value_begins = str[0] == '\\' && str[1] == 'n';
    if (key_begins != value_begins)
        return key_begins ? newline_mismatch::key_begins : newline_mismatch::value_begins;
    bool key_ends = ends_with_newline(id, id_end), value_ends = ends_with_newline(str, str_end);
    if (key_ends != value_ends)
        return key_ends ? newline_mismatch::key_ends : newline_mismatch::value_ends;
    return newline_mismatch::none;
}

char *po_text(char *s) {
    char *end = s + std::strlen(s), *out = const_cast<char *>(foreign_escape(s, end));
    // The text after each escape moves up to the end of what it became.
    for (const char *p = out; p != end;) {
        char bytes[4];
        size_t size;
        p = rewrite(p, bytes, size);
        std::memcpy(out, bytes, size);
        out += size;
        const char *next = foreign_escape(p, end);
        std::memmove(out, p, static_cast<size_t>(next - p));
        out += next - p;
        p = next;
    }
    *out = '\0';
    return out;
}

namespace {

// What gettext's reader takes as blank: space, tab, form feed, vertical tab,
// CR and LF.
bool po_blank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// What the text from p, up to end, tells: that it begins with a PO keyword
// followed by blanks (line ends among them, as gettext reads them) and a
// quote; that it does not; or, where it ends first and more follows, not yet.
text_kind keyword_at(const char *p, const char *end, bool more) {
    static const struct {
        const char *word;
        size_t size;
    } keywords[] = {{"msgctxt", 7}, {"msgid_plural", 12}, {"msgid", 5}, {"msgstr", 6}};
    const text_kind short_of = more ? text_kind::undecided : text_kind::other;
    size_t held = static_cast<size_t>(end - p);
    for (auto [keyword, size] : keywords) {
        if (std::memcmp(p, keyword, held < size ? held : size) != 0)
            continue;
        if (held < size)
            return short_of;
        const char *q = p + size;
        // msgstr[N]
        if (size == 6 && q < end && *q == '[') {
            const char *digits = ++q;
            while (q < end && *q >= '0' && *q <= '9')
                q++;
            if (q == end)
                return short_of;
            if (q == digits || *q++ != ']')
                return text_kind::other;
        }
        while (q < end && po_blank(*q))
            q++;
        return q == end ? short_of : *q == '"' ? text_kind::po : text_kind::other;
    }
    return text_kind::other;
}

} // namespace

text_kind kind_of_text(const char *head, size_t size, bool more) {
    const char *p = head, *end = head + size;
    // A UTF-16 or UTF-32 byte-order mark; a UTF-8 one is passed over, once
    // it is whole.
    if (size >= 2 &&
        (std::memcmp(head, "\xFF\xFE", 2) == 0 || std::memcmp(head, "\xFE\xFF", 2) == 0))
        return text_kind::other;
    if (std::memcmp(head, "\xEF\xBB\xBF", size < 3 ? size : 3) == 0) {
        if (size >= 3)
            p += 3;
        else if (more)
            return text_kind::undecided;
    }
    // Blank lines and comments (# alone, or followed by a blank or one of
    // . : , | ~, and no zero byte) up to the first line that is neither.
    for (bool comments = false;; comments = true) {
        while (p < end && po_blank(*p))
            p++;
        if (p == end)
            return more ? text_kind::undecided : comments ? text_kind::other : text_kind::blank;
        if (*p != '#')
            return keyword_at(p, end, more);
        if (p + 1 < end && !po_blank(p[1]) && std::strchr(".:,|~", p[1]) == nullptr)
            return text_kind::other;
        while (p < end && *p != '\n' && *p != '\0')
            p++;
        if (p == end || *p == '\0')
            return p == end && more ? text_kind::undecided : text_kind::other;
    }
}

ssize_t read_head(int fd, char *buffer, text_kind &kind) {
    ssize_t got;
    for (size_t want = 512;; want = po_head_size) {
        while ((got = pread(fd, buffer, want, 0)) == -1 && errno == EINTR)
            ;
        if (got == -1)
            return -1;
        kind = kind_of_text(buffer, static_cast<size_t>(got), static_cast<size_t>(got) == want);
        if (kind != text_kind::undecided || want == po_head_size)
            break;
    }
    // Past the bound, still undecided: refused, never replaced.
    if (kind == text_kind::undecided)
        kind = text_kind::other;
    return got;
}

int po_stream::flush() {
    size_t held = static_cast<size_t>(end_ - block_);
    if (held > 0 && std::fwrite(block_, 1, held, po_) != held && error_ == 0)
        error_ = errno != 0 ? errno : EIO;
    end_ = block_;
    return error_;
}

void po_stream::add(const char *text, size_t size) {
    if (size > static_cast<size_t>(block_ + sizeof block_ - end_))
        flush();
    std::memcpy(end_, text, size);
    end_ += size;
}

bool po_stream::make_room(const char *what, const char *s, size_t size) {
    flush();
    if (size <= sizeof block_)
        return true;
    if (!put(po_, {what, " \"", s, "\"\n"}) && error_ == 0)
        error_ = errno != 0 ? errno : EIO;
    return false;
}

// 16, 8 or 4 bytes at a time, the last piece from the end back, since the
// texts are short and a call of the C library's copy costs more than the copy.
char *po_stream::copy(char *to, const char *from, size_t size) {
    if (size >= 16) {
        for (size_t i = 0; i + 16 < size; i += 16)
            std::memcpy(to + i, from + i, 16);
        std::memcpy(to + size - 16, from + size - 16, 16);
    } else if (size >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + size - 8, from + size - 8, 8);
    } else if (size >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + size - 4, from + size - 4, 4);
    } else {
        for (size_t i = 0; i < size; i++)
            to[i] = from[i];
    }
    return to + size;
}
