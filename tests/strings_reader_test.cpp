#include "strings_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

using entries = std::vector<std::pair<std::string, std::string>>;

// Every entry that the reader yields from text, with a buffer of bufsize bytes
// at the front of a larger block, so that a key or value that reached outside
// the buffer shows.
entries scan(const std::string &text, size_t bufsize = 8192) {
    std::string input = text;
    FILE *stream =
        input.empty() ? std::fopen("/dev/null", "r") : fmemopen(&input[0], input.size(), "r");
    std::vector<char> block(bufsize + 64, 'X');
    char *buffer = block.data();
    char *id, *str;
    entries found;
    strings_position position;
    while (read_strings(stream, buffer, bufsize, &id, &str, &position)) {
        EXPECT_TRUE(id > buffer && id < buffer + bufsize);
        EXPECT_TRUE(str > id && str < buffer + bufsize);
        found.emplace_back(id, str);
    }
    std::fclose(stream);
    return found;
}

using notes = std::vector<std::pair<long long, passed_over>>;

// What the reader tells: the lines passed over, and which of them were cut.
struct told {
    notes lines;
    std::vector<long long> cut;
};

// The lines that the reader passes over and tells of, with its line count.
notes passed(const std::string &text, size_t bufsize = 8192, long long *lines = nullptr,
             std::vector<long long> *cut = nullptr) {
    std::string input = text;
    FILE *stream = fmemopen(&input[0], input.size(), "r");
    std::vector<char> buffer(bufsize);
    char *id, *str;
    told found;
    strings_position position;
    position.context = &found;
    position.passed = [](void *context, long long line, passed_over why, bool is_cut) {
        auto *t = static_cast<told *>(context);
        t->lines.emplace_back(line, why);
        if (is_cut)
            t->cut.push_back(line);
    };
    while (read_strings(stream, buffer.data(), bufsize, &id, &str, &position))
        ;
    std::fclose(stream);
    if (lines != nullptr)
        *lines = position.line;
    if (cut != nullptr)
        *cut = found.cut;
    return found.lines;
}

entries one(const std::string &key, const std::string &value) {
    return {{key, value}};
}

TEST(ReadStrings, TakesKeyAndValueOfEachEntryLine) {
    EXPECT_EQ(scan("\"Cancel\" = \"Abbrechen\";\n"), one("Cancel", "Abbrechen"));
    EXPECT_EQ(scan("\"Open\" = \"Öffnen…\";\n\"Save\"=\"保存\";\n"),
              (entries{{"Open", "Öffnen…"}, {"Save", "保存"}}));
    // What follows the value's closing quote is never looked at.
    EXPECT_EQ(scan("\"a\" = \"b\"; \"c\" = \"d\"; /* \" */\n"), one("a", "b"));
    // The last line needs no newline; a lone CR ends a line as LF does.
    EXPECT_EQ(scan("\"a\" = \"b\";"), one("a", "b"));
    EXPECT_EQ(scan("\"a\" = \"b\";\r\"c\" = \"d\";\r\n\r\"e\"\"f\""),
              (entries{{"a", "b"}, {"c", "d"}, {"e", "f"}}));
}

TEST(ReadStrings, KeepsEscapesAsTheyStand) {
    EXPECT_EQ(scan(R"("say \"hi\"" = "sag \"hallo\"";)"), one(R"(say \"hi\")", R"(sag \"hallo\")"));
    EXPECT_EQ(scan(R"("line\n" = "Zeile\n";)"), one(R"(line\n)", R"(Zeile\n)"));
    // The first backslash steps over the second, so the quote closes the key.
    EXPECT_EQ(scan(R"("dir\\" = "Ordner\\";)"), one(R"(dir\\)", R"(Ordner\\)"));
    // Those that PO lacks become PO text.
    EXPECT_EQ(scan(R"("Don\'t" = "\U00e9\"";)"), one("Don't", R"(é\")"));
    EXPECT_EQ(scan(R"("Don\'t" = "x";)"), one("Don't", "x"));
}

TEST(ReadStrings, GapBetweenKeyAndValueHasNoEscapes) {
    EXPECT_EQ(scan(R"("k" \"v";)"), one("k", "v"));
    EXPECT_EQ(scan(R"("k""v";)"), one("k", "v"));
    EXPECT_EQ(scan(R"("k" = "";)"), one("k", ""));
    EXPECT_EQ(scan(R"("" = "v";)"), one("", "v"));
    EXPECT_EQ(scan(R"("""";)"), one("", ""));
}

TEST(ReadStrings, PassesOverLinesWithoutAWholeEntry) {
    std::string text = "/* comment */\n"
                       "\n"
                       " \"indented\" = \"x\";\n"
                       "\t\"tabbed\" = \"x\";\n"
                       "\"no value\" = ;\n"
                       "\"open value\" = \"x;\n"
                       "\"open key = x;\n"
                       "\"escaped end\\\" = \"x\\\";\n"
                       "key = \"x\";\n"
                       "\"after\" = \"all\";\n";
    EXPECT_EQ(scan(text), one("after", "all"));
}

TEST(ReadStrings, TellsOfLinesMeantToHoldAnEntry) {
    std::string too_long = "\"" + std::string(70, 'x') + "\n";
    std::string long_kept =
        "\"x\" = \"" + std::string(50, 'x') + "\"; /*" + std::string(20, ' ') + "*/\n";
    std::string text = "/* comment \"a\" = \"b\"; */\n" // 1: quiet
                       "\n"                             // 2: quiet
                       "\"open key = x;\n"              // 3
                       "\"no value\" = ;\n"             // 4
                       "\"Deny\" = \"Avvis\r\n"         // 5
                       "\";\r\n"                        // 6: key not closed
                       " \"indented\" = \"x\";\n"       // 7
                       "\t\"tabbed\"=\"x\"\n"           // 8
                       " \"indented, open\" = \"x;\n"   // 9: quiet
                       "CFBundleName = \"Chat\";\n"     // 10
                       "  NS.key-1$+/: =\t\"x\n"        // 11
                       "Key \"x\";\n"                   // 12: quiet, no =
                       "key = value;\n"                 // 13: quiet, no quote
                       "\xEF\xBB\xBF\"bom\" = \"x\n"    // 14
                       "\"ok\" = \"y\";\n" +            // 15: an entry
                       too_long +                       // 16: told once
                       long_kept +                      // 17: told, and its entry kept
                       "  \"last\" = \"z\"";            // 18, without a newline
    long long lines = 0;
    std::vector<long long> cut;
    EXPECT_EQ(passed(text, 64, &lines, &cut), (notes{{3, passed_over::key_not_closed},
                                                     {4, passed_over::no_value},
                                                     {5, passed_over::value_not_closed},
                                                     {6, passed_over::key_not_closed},
                                                     {7, passed_over::indented},
                                                     {8, passed_over::indented},
                                                     {10, passed_over::unquoted_key},
                                                     {11, passed_over::unquoted_key},
                                                     {14, passed_over::value_not_closed},
                                                     {16, passed_over::too_long},
                                                     {17, passed_over::too_long},
                                                     {18, passed_over::indented}}));
    EXPECT_EQ(lines, 18);
    EXPECT_EQ(cut, std::vector<long long>{18});
    EXPECT_EQ(scan(text, 64), (entries{{"ok", "y"}, {"x", std::string(50, 'x')}}));
    // A line fits in bufsize - 1 bytes with its newline, or at the end without.
    std::string k = "\"" + std::string(61, 'k');
    EXPECT_EQ(passed(k + "\n" + k + "k", 64),
              (notes{{1, passed_over::key_not_closed}, {2, passed_over::key_not_closed}}));
    EXPECT_EQ(passed(k + "k\n", 64), (notes{{1, passed_over::too_long}}));
    EXPECT_EQ(passed(k.substr(1) + "\n" + k, 64), (notes{{2, passed_over::key_not_closed}}));
    // Lines counted across each kind of line end; pairs that msgfmt refuses
    // are kept and told of, but not those with an empty key or value.
    EXPECT_EQ(passed("\"k\"\r\n\"a\" = \"\\nb\";\r\"a\\\\n\" = \"b\";\r\"a\\n\" = \"b\";\n"
                     "\"a\" = \"b\\n\";\r\"\" = \"\\n\";\r\"a\\n\" = \"\";\n"),
              (notes{{1, passed_over::no_value},
                     {2, passed_over::value_begins_with_newline},
                     {4, passed_over::key_ends_with_newline},
                     {5, passed_over::value_ends_with_newline}}));
}

TEST(ReadStrings, ZeroByteEndsTheLineText) {
    EXPECT_EQ(scan("\"a\" = \"b\0c\";\n\"d\" = \"e\";\n"s), one("d", "e"));
    EXPECT_EQ(scan("\"a\0b\" = \"c\";\n"s), entries{});
    EXPECT_EQ(scan("\"a\" = \"b\";\0\n"s), one("a", "b"));
}

TEST(ReadStrings, BackslashAtEndOfTextYieldsNothing) {
    EXPECT_EQ(scan("\"a\\"), entries{});
    EXPECT_EQ(scan("\"a\" = \"b\\"), entries{});
    EXPECT_EQ(scan("\"a\" = \"b\\\0\"\";\n\"c\"\"d\"\n"s), one("c", "d"));
    // Cut by the buffer right after a backslash.
    EXPECT_EQ(scan("\"abc\\\"\" = \"x\";\n", 6), entries{});
}

TEST(ReadStrings, LongLinesAreScannedInTheirFirstPieceOnly) {
    std::string key(100, 'k');
    // The entry's closing quote lies in a later piece: it is lost.
    EXPECT_EQ(scan("\"" + key + "\" = \"v\";\n\"a\" = \"b\";\n", 64), one("a", "b"));
    // A later piece that begins with a quote makes no entry.
    EXPECT_EQ(scan(std::string(63, '-') + "\"x\"\"y\"\n\"a\"\"b\"", 64), one("a", "b"));
    // Even when a zero byte ends the first piece.
    EXPECT_EQ(scan(std::string(62, '-') + "\0\"x\"\"y\"\n\"a\"\"b\""s, 64), one("a", "b"));
    // A line of exactly bufsize - 1 bytes, newline included, fits whole.
    std::string fits = "\"" + std::string(55, 'k') + "\"=\"v\";\n";
    ASSERT_EQ(fits.size(), 63u);
    EXPECT_EQ(scan(fits, 64), one(std::string(55, 'k'), "v"));
}

TEST(ReadStrings, SkipsByteOrderMarkAtStartOfLine) {
    EXPECT_EQ(scan("\xEF\xBB\xBF\"a\" = \"b\";\n"), one("a", "b"));
    EXPECT_EQ(scan("\xEF\xBB\"a\" = \"b\";\n"), entries{});
    EXPECT_EQ(scan("\xEF\xBB\xBF"), entries{});
}

TEST(ReadStrings, EndsOnEmptyStreamAndTinyBuffers) {
    EXPECT_EQ(scan(""), entries{});
    EXPECT_EQ(scan("\"a\"\"b\"\n", 1), entries{});
    EXPECT_EQ(scan("\"\"\"\"\n", 5), one("", ""));
}

} // namespace
