// Every real strings file under the shared corpus, converted by the built tool.
#include "harness.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// The file's text as code units: UTF-16 units where a byte-order mark or a
// zero byte among the first two says so, bytes otherwise. Only the quote, the
// backslash, the newline and zero matter here.
std::vector<unsigned> units(const std::string &bytes) {
    auto byte = [&](size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[i]));
    };
    std::vector<unsigned> out;
    size_t start = 0;
    bool le = false, be = false;
    if (bytes.size() >= 2) {
        le = (byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) != 0 && byte(1) == 0);
        be = (byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0 && byte(1) != 0);
        start =
            (byte(0) == 0xFF && byte(1) == 0xFE) || (byte(0) == 0xFE && byte(1) == 0xFF) ? 2 : 0;
    }
    if (le || be) {
        for (size_t i = start; i + 1 < bytes.size(); i += 2)
            out.push_back(le ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1));
    } else {
        for (size_t i = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; i < bytes.size(); i++)
            out.push_back(byte(i));
    }
    return out;
}

// What a run on the text must give: the number of entries, and the
// diagnostics for lines passed over ("LINE: message").
struct expected_run {
    long entries = 0, fuzzy = 0;
    std::vector<std::string> notes;
};

// Reads the text by the rules of the format: a line holds an entry when a
// quote comes first, the key runs up to an unescaped quote, any gap, the value
// likewise; its text ends at its newline or at a zero. A line that begins
// inside a /* */ comment holds no entry. Lines passed over are told of when
// they begin with a quote, hold a whole entry after blanks or after a comment,
// or have a bare word for a key; so are pairs that msgfmt would refuse, which
// are written fuzzy, an empty key, and a comment left open.
expected_run read_as_the_tool_should(const std::vector<unsigned> &text) {
    expected_run run;
    size_t i = 0, n = text.size();
    bool open = false;
    long opened = 0;
    for (long line = 1; i < n; line++) {
        size_t stop = i;
        while (stop < n && text[stop] != '\n' && text[stop] != '\r' && text[stop] != 0)
            stop++;
        auto closing = [&](size_t p) {
            for (; p < stop; p++) {
                if (text[p] == '"')
                    return p;
                if (text[p] == '\\')
                    p++;
            }
            return stop;
        };
        // Where a pair that opens at p fails, or n for a whole pair.
        size_t key_end = 0, value = 0, value_end = 0;
        auto pair = [&](size_t p, const char **why) {
            key_end = closing(p + 1);
            *why = "key not closed";
            if (key_end == stop)
                return key_end;
            value = key_end + 1;
            while (value < stop && text[value] != '"')
                value++;
            *why = "no value after the key";
            if (value == stop)
                return value;
            *why = "value not closed";
            value_end = closing(value + 1);
            return value_end < stop ? n : stop;
        };
        // Whether the text from a to b ends (else begins) with the escape \n.
        auto newline = [&](size_t a, size_t b, bool at_end) {
            size_t slashes = 0;
            while (at_end && b - a >= slashes + 2 && text[b - 2 - slashes] == '\\')
                slashes++;
            return at_end ? b > a && text[b - 1] == 'n' && slashes % 2 == 1
                          : b - a >= 2 && text[a] == '\\' && text[a + 1] == 'n';
        };
        auto blanks = [&](size_t p) {
            while (p < stop && (text[p] == ' ' || text[p] == '\t'))
                p++;
            return p;
        };
        auto word = [&](unsigned c) {
            return (c < 128 && std::isalnum(static_cast<int>(c))) ||
                   std::string("_$+/:.-").find(static_cast<char>(c)) != std::string::npos;
        };
        // Follows the line from p for comments; true where a whole entry
        // follows the end of one.
        auto follow = [&](size_t p) {
            bool after = false;
            const char *ignored;
            for (; p < stop; p++) {
                bool two = p + 1 < stop;
                if (open && text[p] == '*' && two && text[p + 1] == '/') {
                    open = false;
                    size_t q = blanks(++p + 1);
                    after = after || (q < stop && text[q] == '"' && pair(q, &ignored) == n);
                } else if (!open && text[p] == '"') {
                    p = closing(p + 1);
                } else if (!open && text[p] == '/' && two && text[p + 1] == '/') {
                    break;
                } else if (!open && text[p] == '/' && two && text[p + 1] == '*') {
                    open = true, opened = line, p++;
                }
            }
            return after;
        };
        const char *why = nullptr;
        size_t start = blanks(i);
        std::string at = std::to_string(line) + ": ";
        if (open) {
            if (follow(i))
                run.notes.push_back(at + "entry after a comment on its line");
        } else if (i < stop && text[i] == '"' && pair(i, &why) == n) {
            run.entries++;
            if (key_end == i + 1)
                run.notes.push_back(at + "empty key: gettext takes msgid \"\" for the "
                                         "catalogue's header");
            for (bool at_end : {false, true}) {
                bool key = newline(i + 1, key_end, at_end);
                if (key_end > i + 1 && value_end > value + 1 &&
                    key != newline(value + 1, value_end, at_end)) {
                    run.fuzzy++;
                    run.notes.push_back(at + "the " + (key ? "key" : "value") +
                                        (at_end ? " ends" : " begins") +
                                        " with a newline and the " + (key ? "value" : "key") +
                                        " does not: marked fuzzy, which msgfmt leaves out");
                    break;
                }
            }
            follow(value_end + 1);
        } else if (why != nullptr) {
            run.notes.push_back(at + why);
            follow(i);
        } else if (start > i && start < stop && text[start] == '"' && pair(start, &why) == n) {
            run.notes.push_back(at + "entry does not begin its line");
            follow(i);
        } else {
            size_t p = start;
            while (p < stop && word(text[p]))
                p++;
            bool after = follow(i);
            if (p > start && (p = blanks(p)) < stop && text[p] == '=' &&
                (p = blanks(p + 1)) < stop && text[p] == '"')
                run.notes.push_back(at + "key not quoted");
            else if (after)
                run.notes.push_back(at + "entry after a comment on its line");
        }
        while (stop < n && text[stop] != '\n' && text[stop] != '\r')
            stop++;
        i = stop + (stop + 1 < n && text[stop] == '\r' && text[stop + 1] == '\n' ? 2 : 1);
    }
    if (open)
        run.notes.push_back(std::to_string(opened) +
                            ": comment not closed: every line after it passed over");
    return run;
}

TEST(Corpus, EveryFileConvertsToTheEntriesItHolds) {
    // QUORVEL_CORPUS, where set, names a folder of strings files; without it
    // the shared corpus is used where it exists.
    const char *given = std::getenv("QUORVEL_CORPUS");
    bool named = given != nullptr && *given != '\0';
    fs::path corpus = named ? given : QUORVEL_SHARED_CORPUS;
    if (named && !fs::is_directory(corpus))
        FAIL() << "QUORVEL_CORPUS names " << corpus << ", which is no folder";
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "no corpus at " << corpus
                     << ": set QUORVEL_CORPUS to a folder of .strings files to run this";
    temp_dir dir;
    std::string po = dir / "out.po";
    int files = 0;
    size_t notes = 0;
    for (auto &entry : fs::recursive_directory_iterator(corpus)) {
        if (entry.path().extension() != ".strings")
            continue;
        std::string path = entry.path().string(), bytes = read_file(path);
        SCOPED_TRACE(path);
        files++;
        expected_run expected = read_as_the_tool_should(units(bytes));
        run_result r = run_quorvel({path, po});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, po + ": " + std::to_string(expected.entries) + " messages.\n");
        std::string text = read_file(po);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
                  2 * expected.entries + expected.fuzzy);
        size_t flags = 0;
        for (size_t at = text.find("#, fuzzy\nmsgid "); at != std::string::npos;
             at = text.find("#, fuzzy\nmsgid ", at + 1))
            flags++;
        EXPECT_EQ(flags, static_cast<size_t>(expected.fuzzy));
        // Every escape left is one that PO reads as the strings file does.
        for (size_t at = text.find('\\'); at != std::string::npos; at = text.find('\\', at + 2))
            EXPECT_NE(std::strchr("\"\\ntrabfv01234567", text[at + 1]), nullptr)
                << text.substr(at, 9);
        // The diagnostics, each cut after its first words.
        std::string told;
        for (size_t start = 0, end; (end = r.err.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string note = r.err.substr(start, end - start);
            ASSERT_EQ(note.compare(0, path.size() + 1, path + ":"), 0) << note;
            told += note.substr(path.size() + 1, note.find(": line passed over") - path.size() - 1);
            told += '\n';
        }
        std::string expected_notes;
        for (size_t k = 0; k < expected.notes.size() && k < 100; k++)
            expected_notes += expected.notes[k] + "\n";
        if (expected.entries == 0 && expected.notes.empty() && !units(bytes).empty())
            expected_notes += " no entries found\n";
        EXPECT_EQ(told, expected_notes);
        notes += expected.notes.size();
    }
    EXPECT_GT(files, 0);
    std::printf("%d files, %zu lines passed over and told\n", files, notes);
}

} // namespace
