#include "strings_reader.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

using entries = std::vector<std::pair<std::string, std::string>>;
using notes = std::vector<std::pair<long long, passed_over>>;

// What the reader makes of a text: its entries, the lines it tells of and
// which of those were cut, the lines of the entries to be written fuzzy, its
// count of lines, and the line of the comment left open.
struct reading {
    entries found;
    notes told;
    std::vector<long long> cut, fuzzy;
    long long lines = 0, comment = 0;
};

// Reads text with lines of at most bufsize - 1 bytes, into a buffer that
// holds one such line and a byte more, so that every few lines a read ends,
// at the front of a larger block, so that a key or value outside it shows;
// where quiet, telling nobody of the lines passed over.
reading read(const std::string &text, size_t bufsize = 8192, bool quiet = false) {
    std::string input = text;
    FILE *stream =
        input.empty() ? std::fopen("/dev/null", "r") : fmemopen(&input[0], input.size(), "r");
    std::vector<char> block(bufsize + 64, 'X');
    char *buffer = block.data(), *id, *str;
    reading r;
    strings_position position;
    position.line_size = bufsize > 0 ? bufsize - 1 : 0;
    position.context = &r;
    position.passed = [](void *context, long long line, passed_over why, bool cut) {
        static_cast<reading *>(context)->told.emplace_back(line, why);
        if (cut)
            static_cast<reading *>(context)->cut.push_back(line);
    };
    if (quiet)
        position.passed = nullptr;
    while (read_strings(stream, buffer, bufsize + 1, &id, &str, &position)) {
        EXPECT_TRUE(id > buffer && id < buffer + bufsize + 1);
        EXPECT_TRUE(str > id && str < buffer + bufsize + 1);
        r.found.emplace_back(id, str);
        if (position.fuzzy != newline_mismatch::none)
            r.fuzzy.push_back(position.line);
    }
    std::fclose(stream);
    r.lines = position.line;
    r.comment = position.comment;
    return r;
}

entries scan(const std::string &text, size_t bufsize = 8192) {
    return read(text, bufsize).found;
}
notes passed(const std::string &text, size_t bufsize = 8192) {
    return read(text, bufsize).told;
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
    EXPECT_EQ(scan(""), entries{});
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

TEST(ReadStrings, LinesInsideACommentHoldNoEntry) {
    std::string after = "\"e\" = \"f\";\n/* enough text after it for the quick loop */\n";
    std::string row[][2] = {
        {"/* old:\n\"a\" = \"b\";\n  \"c\" = \"d\";\n*/\n", ""}, // around entries
        {"\"a\" = \"b\"; /* old:\n\"c\" = \"d\";\n*/\n", "a "},  // after an entry
        {"\"a\" = \"/*\";\n\"c\" = \"d\";\n", "a c "},           // inside a value
        {"\"a\" = \"b\"; // /*\n\"c\" = \"d\";\n", "a c "},      // after //
        {"\"a\" = \"\\\" /*\";\n\"c\" = \"d\";\n", "a c "},      // after \" in a value
        {"/* a */ /* b\n\"c\" = \"d\";\n*/ \"e\" = \"f\";\n\"g\"\"h\"", "g "}, // closed, opened
        {"x /* \" */ \"\n\"c\" = \"d\";\n", "c "}, // a quote in it is no text
        // A line too long that closes one and opens another: its rest may close that.
        {"/* a\n*/ /* b " + std::string(9000, 'x') + "\n\"c\" = \"d\";\n", "c "},
        // After an entry, where the quick loop takes lines: a comment left
        // open on its line, one after an entry, and /*/, which only opens.
        {"\"a\" = \"b\";\n/* open\n\"c\" = \"d\";\n*/\n" + after, "a e "},
        {"\"a\" = \"b\";\n\"c\" = \"d\"; /* open\n\"x\" = \"y\";\n*/\n" + after, "a c e "},
        {"\"a\" = \"b\";\n/*/\n\"x\" = \"y\";\n*/\n" + after, "a e "},
    };
    for (auto &[text, keys] : row) {
        std::string found;
        for (auto &entry : scan(text))
            found += entry.first + " ";
        EXPECT_EQ(found, keys) << text;
    }
    // The comment left open is the one opened last, also after one closed.
    EXPECT_EQ(read("/* one\n*/ /* two\n\"a\" = \"b\";\n").comment, 2);
    // An entry after a comment is named; one inside a comment is not.
    EXPECT_EQ(passed("/* c */ \"k\" = \"v\";\n/*\n \"k\" = \"v\";\n*/ \"k\" = \"v\";\n"),
              (notes{{1, passed_over::after_comment}, {4, passed_over::after_comment}}));
}

TEST(ReadStrings, LineEndsSplitByAReadAreOneLineEnd) {
    // A buffer of 17 bytes takes 16 a read: every place in the first lines.
    for (size_t pad = 0; pad < 10; pad++)
        for (std::string end : {"\r\n", "\r", "\n"}) {
            std::string text =
                "/*" + std::string(pad, ' ') + "*/" + end + "\"a\"=\"b\"" + end + end;
            EXPECT_EQ(scan(text + "\"c\"=\"d\"", 16), (entries{{"a", "b"}, {"c", "d"}})) << pad;
            EXPECT_EQ(read(text, 16).told, notes{}) << pad;
            EXPECT_EQ(read(text, 16).lines, 3) << pad;
        }
    // Also after a line too long, whose CR ends a read, or that runs over
    // several, or whose scan stopped early, at a // or after an entry; one
    // that the stream cuts is told as cut.
    for (std::string head : {"", "\"e\"=\"f\"; // ", "\"e\"=\"f\"; "})
        for (size_t size : {15u, 70u}) {
            reading r = read(head + std::string(size, 'x') + "\r\n\"a\"=\"b\"\n", 16);
            EXPECT_EQ(r.told, (notes{{1, passed_over::too_long}})) << head << size;
            EXPECT_EQ(r.lines, 2);
            EXPECT_EQ(r.cut, std::vector<long long>{});
        }
    // A blank line after a // comment, or after text past an entry, is a line.
    for (std::string first : {"\"a\" = \"b\"; // note\n", "\"a\" = \"b\"; x\n"})
        EXPECT_EQ(passed(first + "\n\"k\"\n"), (notes{{3, passed_over::no_value}})) << first;
    EXPECT_EQ(read("\"a\"=\"b\"\n" + std::string(70, 'x'), 16).cut, std::vector<long long>{2});
    // A value on the next line is told so wherever a read ends.
    for (size_t pad = 0; pad < 16; pad++)
        EXPECT_EQ(passed(std::string(pad, '\n') + "\"kk\"\n= \"v\";\n", 16),
                  (notes{{static_cast<long long>(pad) + 1, passed_over::value_on_next_line}}))
            << pad;
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
    reading r = read(text, 64);
    EXPECT_EQ(r.told, (notes{{3, passed_over::key_not_closed},
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
    EXPECT_EQ(r.lines, 18);
    EXPECT_EQ(r.cut, std::vector<long long>{18});
    EXPECT_EQ(r.found, (entries{{"ok", "y"}, {"x", std::string(50, 'x')}}));
    // A line fits in bufsize - 1 bytes with its newline, or at the end without.
    std::string k = "\"" + std::string(61, 'k');
    EXPECT_EQ(passed(k + "\n" + k + "k", 64),
              (notes{{1, passed_over::key_not_closed}, {2, passed_over::key_not_closed}}));
    EXPECT_EQ(passed(k + "k\n", 64), (notes{{1, passed_over::too_long}}));
    EXPECT_EQ(passed(k.substr(1) + "\n" + k, 64), (notes{{2, passed_over::key_not_closed}}));
    // An entry of 63 bytes, then one of 64, ending in LF and in CR LF.
    for (std::string v : {std::string(53, 'v') + "\";\n", std::string(52, 'v') + "\";\r\n"})
        EXPECT_EQ(read("\"k\" = \"" + v + "\"kk\" = \"" + v, 64).told,
                  (notes{{2, passed_over::too_long}}));
    // Lines counted across each kind of line end; pairs that msgfmt refuses
    // are kept, marked fuzzy, also where nobody is told, and told of, but not
    // those with an empty value; an empty key is told as the header it becomes.
    std::string refused =
        "\"k\"\r\n\"a\" = \"\\nb\";\r\"a\\\\n\" = \"b\";\r\"a\\n\" = \"b\";\n"
        "\"a\" = \"b\\n\";\r\"\" = \"\\n\";\r\"a\\n\" = \"\";\n\"\\na\" = \"b\";\n"
        "\"p\" = \"q\";\n/* the end of the text */\n";
    EXPECT_EQ(passed(refused), (notes{{1, passed_over::no_value},
                                      {2, passed_over::value_begins_with_newline},
                                      {4, passed_over::key_ends_with_newline},
                                      {5, passed_over::value_ends_with_newline},
                                      {6, passed_over::empty_key},
                                      {8, passed_over::key_begins_with_newline}}));
    // An empty key after an entry, where the quick loop takes the line.
    EXPECT_EQ(passed("\"a\" = \"b\";\n\"\" = \"v\";\n/* enough text after it */\n"),
              (notes{{2, passed_over::empty_key}}));
    for (bool quiet : {false, true})
        EXPECT_EQ(read(refused, 8192, quiet).fuzzy, (std::vector<long long>{2, 4, 5, 8}));
}

TEST(ReadStrings, ZeroByteEndsTheLineText) {
    EXPECT_EQ(scan("\"a\" = \"b\0c\";\n\"d\" = \"e\";\n"s), one("d", "e"));
    EXPECT_EQ(scan("\"a\0b\" = \"c\";\n"s), entries{});
    EXPECT_EQ(scan("\"a\" = \"b\";\0\n"s), one("a", "b"));
    // A backslash at the end of the text yields nothing.
    EXPECT_EQ(scan("\"a\\"), entries{});
    EXPECT_EQ(scan("\"a\" = \"b\\"), entries{});
    EXPECT_EQ(scan("\"a\" = \"b\\\0\"\";\n\"c\"\"d\"\n"s), one("c", "d"));
    // Cut by the buffer right after a backslash.
    EXPECT_EQ(scan("\"abc\\\"\" = \"x\";\n", 6), entries{});
}

TEST(ReadStrings, LongLinesAreScannedInTheirFirstPieceOnly) {
    // The entry's closing quote lies in a later piece: it is lost.
    EXPECT_EQ(scan("\"" + std::string(100, 'k') + "\" = \"v\";\n\"a\" = \"b\";\n", 64),
              one("a", "b"));
    // A later piece that begins with a quote makes no entry.
    EXPECT_EQ(scan(std::string(63, '-') + "\"x\"\"y\"\n\"a\"\"b\"", 64), one("a", "b"));
}

TEST(ReadStrings, SkipsByteOrderMarkAtStartOfLine) {
    EXPECT_EQ(scan("\xEF\xBB\xBF\"a\" = \"b\";\n"), one("a", "b"));
    EXPECT_EQ(scan("\xEF\xBB\"a\" = \"b\";\n\xEF\xBB\xBF"), entries{});
}

} // namespace
