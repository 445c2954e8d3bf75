// Every real strings file under the shared corpus, converted by the built tool.
#include "harness.h"

#include <algorithm>
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

// Counts the lines that hold an entry, by the rules of the format: a quote
// first, the key up to an unescaped quote, any gap, the value likewise. A
// line's text ends at its newline or at a zero.
long count_entries(const std::vector<unsigned> &text) {
    long count = 0;
    size_t i = 0, n = text.size();
    while (i < n) {
        size_t stop = i;
        while (stop < n && text[stop] != '\n' && text[stop] != 0)
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
        size_t key_end = i < stop && text[i] == '"' ? closing(i + 1) : stop;
        size_t value = key_end < stop ? key_end + 1 : stop;
        while (value < stop && text[value] != '"')
            value++;
        if (value < stop && closing(value + 1) < stop)
            count++;
        while (stop < n && text[stop] != '\n')
            stop++;
        i = stop + 1;
    }
    return count;
}

TEST(Corpus, EveryFileConvertsToTheEntriesItHolds) {
    fs::path corpus = QUORVEL_CORPUS;
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << corpus << " is absent";
    temp_dir dir;
    std::string po = dir / "out.po";
    int files = 0;
    for (auto &entry : fs::recursive_directory_iterator(corpus)) {
        if (entry.path().extension() != ".strings")
            continue;
        std::string path = entry.path().string(), bytes = read_file(path);
        SCOPED_TRACE(path);
        files++;
        long expected = count_entries(units(bytes));
        run_result r = run_quorvel({path, po});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, po + ": " + std::to_string(expected) + " messages.\n");
        std::string text = read_file(po);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * expected);
    }
    EXPECT_GT(files, 0);
}

} // namespace
