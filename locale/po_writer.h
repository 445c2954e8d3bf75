// PO writer: the lines of a gettext message catalogue.
#ifndef QUORVEL_PO_WRITER_H
#define QUORVEL_PO_WRITER_H

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

// The PO file's stream, with a block of its own that the lines are put
// together in and that goes to the stream whole: a copy a line, and no call
// of the stream. An unbuffered stream then takes each block as one write.
class po_stream {
  public:
    explicit po_stream(FILE *po) : po_(po) {}
    ~po_stream() { flush(); }
    po_stream(const po_stream &) = delete;
    po_stream &operator=(const po_stream &) = delete;

    // Hands the lines held to the stream; returns 0, or the errno value of
    // the first write that failed, now or before. The stream is touched only
    // where lines are held: one closed since the last flush is not.
    int flush();
    bool failed() const { return error_ != 0; }
    // Puts text of size bytes, at most the block's, in the block as it is.
    void add(const char *text, size_t size);
    // Puts a PO line together in the block: see write_po.
    [[gnu::always_inline]] void add_line(const char *what, size_t what_size, const char *s,
                                         size_t size) {
        size_t line = what_size + size + 4;
        if (line > static_cast<size_t>(block_ + sizeof block_ - end_) && !make_room(what, s, line))
            return;
        // The keyword is a constant where write_po is called: a store or two.
        char *end = end_;
        __builtin_memcpy(end, what, what_size);
        end += what_size;
        *end++ = ' ';
        *end++ = '"';
        end = copy(end, s, size);
        *end++ = '"';
        *end++ = '\n';
        end_ = end;
    }

  private:
    // Flushes the block for a line of size bytes; false where the line is
    // longer than the block, and has gone to the stream in its pieces.
    bool make_room(const char *what, const char *s, size_t size);
    // Copies size bytes to to; returns their end.
    static char *copy(char *to, const char *from, size_t size);
    FILE *po_;
    char *end_ = block_; // the end of the lines held
    int error_ = 0;
    char block_[1 << 15];
};

// Writes one PO line: the keyword what, a blank and s, of size bytes and a
// zero byte after them, in double quotes. The text is copied byte for byte;
// a write that fails is kept in po, for failed and flush to tell.
[[gnu::always_inline]] inline void write_po(po_stream &po, const char *what, const char *s,
                                            size_t size) {
    po.add_line(what, std::strlen(what), s, size);
}
inline void write_po(po_stream &po, const char *what, const char *s) {
    write_po(po, what, s, std::strlen(s));
}

// Writes the flag line that marks the entry after it fuzzy: msgfmt leaves
// such an entry out of the catalogue it compiles, and PO editors show it as
// needing a translator's look.
[[gnu::always_inline]] inline void write_fuzzy(po_stream &po) {
    po.add("#, fuzzy\n", 9);
}

// How a pair's key and value, both non-empty, differ in a leading or else a
// trailing escape \n: msgfmt refuses the whole catalogue for one such pair,
// but leaves it out, and compiles the rest, where the pair is fuzzy.
enum class newline_mismatch : unsigned char {
    none,
    key_begins,
    value_begins,
    key_ends,
    value_ends
};

// Tells how msgfmt finds a pair of PO texts, each up to the zero byte at its
// end, at odds in their newlines.
newline_mismatch refused_by_msgfmt(const char *id, const char *id_end, const char *str,
                                   const char *str_end);

// Whether msgfmt may refuse a pair of texts, each up to its end, or gettext
// take it for the catalogue's header (an empty key). Most pairs are told
// apart by their first and last two bytes (before a text of one byte lies its
// opening quote).
[[gnu::always_inline]] inline bool may_need_a_look(const char *id, const char *id_end,
                                                   const char *str, const char *str_end) {
    return id == id_end || id[0] == '\\' || str[0] == '\\' ||
           (id_end[-1] == 'n' && id_end[-2] == '\\') || (str_end[-1] == 'n' && str_end[-2] == '\\');
}

// Whether a PO file reads the escape of c, the byte after a backslash, as a
// strings file does: \" \\ \n \t \r \a \b \f \v and octal.
inline bool po_escape(char c) {
    switch (c) {
    case '"':
    case '\\':
    case 'n':
    case 't':
    case 'r':
    case 'a':
    case 'b':
    case 'f':
    case 'v':
        return true;
    default:
        return c >= '0' && c <= '7';
    }
}

// Makes a key or value of a strings file PO text, in place: the escapes that
// a PO file reads alike (\" \\ \n \t \r \a \b \f \v and octal) stay; the others
// become what the strings file means by them: \U and one to four hex digits
// a UTF-16 code unit, anything else the character after the backslash. The
// text never grows; returns its new end, the zero byte.
char *po_text(char *s);

// The most of a file's first bytes that kind_of_text needs.
const size_t po_head_size = 1 << 16;

// What the first bytes of a file tell of it: nothing (no line but blank ones,
// as gettext counts blanks), that it is a PO file (its first line that is
// neither blank nor a PO comment, # alone or followed by a blank or one of
// . : , | ~, begins with a keyword: msgctxt, msgid, msgid_plural, msgstr or
// msgstr[N], then blanks, line ends among them, and a quote), or that it is
// other text: it begins with a UTF-16 or UTF-32 mark, a zero byte comes
// before its first keyword, it begins otherwise, or it holds nothing but
// comments; or, where more of the file follows the head, undecided, where the
// head ends first. The same text gets the same answer wherever its head ends.
enum class text_kind { blank, po, other, undecided };
text_kind kind_of_text(const char *head, size_t size, bool more);

// Reads the first bytes of the file fd into buffer, of po_head_size bytes:
// 512, and more only where those leave its kind undecided; sets kind (never
// undecided: past po_head_size, other) and returns how many were read, or -1.
ssize_t read_head(int fd, char *buffer, text_kind &kind);

#endif
