// Fuzz target: arbitrary bytes as the converter's output, through the strings
// reader and the PO writer, checking what must hold for any input.
//
// Built twice: with the tool's line size and buffer, and with SMALL_BUFFER,
// where the first input byte picks lines of 1 to 64 bytes and a buffer a few
// bytes larger, so that long lines and lines cut by a read are common.
#include "po_writer.h"
#include "strings_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "broken invariant: %s\n", what);
        std::abort();
    }
}

// True when text holds no newline and no double quote that a backslash does
// not escape.
bool closed_text(const char *text, size_t size) {
    for (size_t i = 0; i < size; i++) {
        if (text[i] == '\n' || text[i] == '"')
            return false;
        if (text[i] == '\\')
            i++;
    }
    return true;
}

// Checks one PO line, without its newline: the keyword, a blank, a quoted text.
void check_po_line(const char *line, size_t size, const char *keyword) {
    size_t k = std::strlen(keyword);
    check(size >= k + 3 && std::memcmp(line, keyword, k) == 0 && line[k] == ' ' &&
              line[k + 1] == '"' && line[size - 1] == '"',
          "PO line form");
    check(closed_text(line + k + 2, size - k - 3), "PO line quotes balanced");
    for (const char *p = line + k + 2; (p = static_cast<const char *>(std::memchr(
                                            p, '\\', static_cast<size_t>(line + size - 1 - p))));
         p += 2)
        check(std::strchr("\"\\ntrabfv01234567", p[1]) != nullptr, "only escapes that PO knows");
}

// Checks the PO output: msgid and msgstr lines in turn, two per entry.
void check_po(const char *po, size_t size, size_t entries) {
    size_t lines = 0;
    for (size_t start = 0; start < size; lines++) {
        const char *end = static_cast<const char *>(std::memchr(po + start, '\n', size - start));
        check(end != nullptr, "PO output ends with a newline");
        size_t length = static_cast<size_t>(end - (po + start));
        check_po_line(po + start, length, lines % 2 == 0 ? "msgid" : "msgstr");
        start += length + 1;
    }
    check(lines == 2 * entries, "two PO lines per entry");
}

// Which lines begin inside a /* */ comment, by the format's rule: an entry
// line is looked at after its value, any other line whole; quoted text ends
// at its closing quote or its line's end, // ends what is read. Lines end at
// LF, CR LF or a lone CR, their text at a zero byte. The last item tells
// whether a comment is open at the end.
std::vector<bool> inside_comment(const std::vector<char> &text) {
    std::vector<bool> inside;
    bool open = false;
    for (size_t i = 0, n = text.size(); i < n;) {
        size_t end = i;
        while (end < n && text[end] != '\n' && text[end] != '\r')
            end++;
        size_t stop = static_cast<size_t>(std::find(text.begin() + static_cast<long>(i),
                                                    text.begin() + static_cast<long>(end), '\0') -
                                          text.begin());
        inside.push_back(open);
        auto quoted = [&](size_t p) { // past the quoted text that opens at p
            for (p++; p < stop && text[p] != '"'; p++)
                p += text[p] == '\\';
            return p + 1;
        };
        size_t p =
            i + (!open && stop - i >= 3 && std::memcmp(&text[i], "\xEF\xBB\xBF", 3) == 0 ? 3 : 0);
        if (!open && p < stop && text[p] == '"') {
            size_t value = quoted(p);
            while (value < stop && text[value] != '"')
                value++;
            if (value < stop && quoted(value) <= stop)
                p = quoted(value);
        }
        while (p < stop) {
            bool two = p + 1 < stop;
            if (open && text[p] == '*' && two && text[p + 1] == '/')
                open = false, p += 2;
            else if (!open && text[p] == '"')
                p = quoted(p);
            else if (!open && text[p] == '/' && two && text[p + 1] == '/')
                break;
            else if (!open && text[p] == '/' && two && text[p + 1] == '*')
                open = true, p += 2;
            else
                p++;
        }
        i = end + (end + 1 < n && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    inside.push_back(open);
    return inside;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    strings_position position;
#ifdef SMALL_BUFFER
    if (size == 0)
        return 0;
    position.line_size = 1 + data[0] % 64;
    size_t bufsize = position.line_size + 2 + (data[0] >> 6);
    data++;
    size--;
#else
    size_t bufsize = longest_line + 1 + (1 << 16);
#endif
    std::vector<char> input(data, data + size);
    FILE *strings = size > 0 ? fmemopen(input.data(), size, "r") : std::fopen("/dev/null", "r");
    char *po_text = nullptr;
    size_t po_size = 0;
    FILE *po = open_memstream(&po_text, &po_size);
    // Exactly bufsize bytes on the heap, so that any access past it is caught.
    std::vector<char> buffer(bufsize);
    const char *first = buffer.data(), *last = first + bufsize;

    // The lines told of as passed over come in order, each once.
    long long last_passed = 0;
    position.context = &last_passed;
    position.passed = [](void *context, long long line, passed_over, bool) {
        auto *previous = static_cast<long long *>(context);
        check(line > *previous, "passed-over lines in order, each once");
        *previous = line;
    };

    size_t entries = 0;
    std::vector<long long> entry_lines;
    auto lines = std::make_unique<po_stream>(po);
    char *id, *str;
    while (read_strings(strings, buffer.data(), bufsize, &id, &str, &position)) {
        size_t id_size = std::strlen(id), str_size = std::strlen(str);
        check(id > first && id + id_size < last, "key inside the buffer");
        check(str > id + id_size && str + str_size < last, "value inside the buffer, after key");
        check(closed_text(id, id_size), "key has no newline or unescaped quote");
        check(closed_text(str, str_size), "value has no newline or unescaped quote");
        write_po(*lines, "msgid", id);
        write_po(*lines, "msgstr", str);
        entries++;
        entry_lines.push_back(position.line);
    }
    std::fclose(strings);
    lines.reset();
    std::fclose(po);

    // Each entry takes a line of its own; a line ends at LF, CR LF or a lone
    // CR, and the lines are counted as they are.
    size_t ends = 0, longest = 0;
    for (size_t i = 0, start = 0; i < size; i++) {
        bool end =
            input[i] == '\n' || (input[i] == '\r' && (i + 1 == size || input[i + 1] != '\n'));
        ends += end;
        longest = std::max(longest, i + 1 - start);
        start = end ? i + 1 : start;
    }
    check(entries <= ends + 1, "no more entries than lines");
    size_t lines_in = ends + (size > 0 && input.back() != '\n' && input.back() != '\r' ? 1 : 0);
    check(position.line == static_cast<long long>(lines_in), "every line counted once");
    // No entry from a line that begins in a comment, and an open one is told
    // (where no line is too long, whose rest the reader does not look at).
    if (longest <= position.line_size) {
        std::vector<bool> inside = inside_comment(input);
        for (long long line : entry_lines)
            check(!inside[static_cast<size_t>(line - 1)], "no entry inside a comment");
        check((position.comment != 0) == inside.back(), "a comment open at the end is told");
    }
    check(last_passed <= position.line, "passed-over lines among those read");
    // Whether the text is taken for a PO file does not depend on where the
    // head of it that is looked at ends.
    text_kind kind = size > 0 ? kind_of_text(input.data(), size, false) : text_kind::blank;
    for (size_t head = 1; head < size && head <= 1024; head++) {
        text_kind early = kind_of_text(input.data(), head, true);
        check(early == text_kind::undecided || early == kind,
              "a text's kind wherever its head ends");
    }
    check_po(po_text, po_size, entries);
    std::free(po_text);
    return 0;
}
