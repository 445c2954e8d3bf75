// Fuzz target: arbitrary bytes as the converter's output, through the strings
// reader and the PO writer, checking what must hold for any input.
//
// Built twice: with the tool's 8192-byte line buffer, and with SMALL_BUFFER,
// where the first input byte picks a buffer of 2 to 65 bytes so that lines
// cut into pieces are common.
#include "po_writer.h"
#include "strings_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
#ifdef SMALL_BUFFER
    if (size == 0)
        return 0;
    size_t bufsize = 2 + data[0] % 64;
    data++;
    size--;
#else
    size_t bufsize = 8192;
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
    strings_position position;
    position.context = &last_passed;
    position.passed = [](void *context, long long line, passed_over, bool) {
        auto *previous = static_cast<long long *>(context);
        check(line > *previous, "passed-over lines in order, each once");
        *previous = line;
    };

    size_t entries = 0;
    char *id, *str;
    while (read_strings(strings, buffer.data(), bufsize, &id, &str, &position)) {
        size_t id_size = std::strlen(id), str_size = std::strlen(str);
        check(id > first && id + id_size < last, "key inside the buffer");
        check(str > id + id_size && str + str_size < last, "value inside the buffer, after key");
        check(closed_text(id, id_size), "key has no newline or unescaped quote");
        check(closed_text(str, str_size), "value has no newline or unescaped quote");
        write_po(po, "msgid", id);
        write_po(po, "msgstr", str);
        entries++;
    }
    std::fclose(strings);
    std::fclose(po);

    // Each entry takes a line of its own; a line ends at LF, CR LF or a lone
    // CR, and the lines are counted as they are. After the last LF, a zero
    // byte may hide from the reader what follows it, CRs included: the end
    // of the stream hides the length of what fgets read.
    size_t ends = 0, tail = 0;
    for (size_t i = 0; i < size; i++) {
        ends += input[i] == '\n' || (input[i] == '\r' && (i + 1 == size || input[i + 1] != '\n'));
        tail = input[i] == '\n' ? i + 1 : tail;
    }
    bool hidden =
        std::find(input.begin() + static_cast<long>(tail), input.end(), '\0') != input.end();
    check(entries <= ends + 1, "no more entries than lines");
    size_t lines = ends + (size > 0 && input.back() != '\n' && input.back() != '\r' ? 1 : 0);
    check(hidden ? position.line <= static_cast<long long>(lines)
                 : position.line == static_cast<long long>(lines),
          "every line counted once");
    check(last_passed <= position.line, "passed-over lines among those read");
    check_po(po_text, po_size, entries);
    std::free(po_text);
    return 0;
}
