#include "po_writer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

TEST(WritePo, WritesKeywordAndTextByteForByte) {
    char *data = nullptr;
    size_t size = 0;
    FILE *po = open_memstream(&data, &size);
    auto lines = std::make_unique<po_stream>(po);
    write_po(*lines, "msgid", "Cancel");
    write_po(*lines, "msgstr", "Abbrechen");
    write_po(*lines, "msgid", "");
    write_po(*lines, "msgstr", R"(a\nb \"c\" 保存 %1$@)");
    // Texts of every length around what fills the writer's block, and past it.
    std::string around;
    for (size_t length : {32600u, 32757u, 32758u, 32759u, 40000u, 70000u}) {
        write_po(*lines, "msgstr", std::string(length, 'x').c_str());
        around += "msgstr \"" + std::string(length, 'x') + "\"\n";
    }
    EXPECT_EQ(lines->flush(), 0);
    lines.reset();
    std::fclose(po);
    EXPECT_EQ(std::string(data, size), "msgid \"Cancel\"\n"
                                       "msgstr \"Abbrechen\"\n"
                                       "msgid \"\"\n"
                                       "msgstr \"a\\nb \\\"c\\\" 保存 %1$@\"\n" +
                                           around);
    std::free(data);
}

TEST(PoText, GivesEscapesThatPoLacksTheirCharacters) {
    std::pair<const char *, const char *> rows[] = {
        {R"(Don\'t)", "Don't"},
        {R"(\U41\U00e9\U20aC\U0041)", "Aé€A"},          // one to four hex digits
        {R"(\U00e9f)", "éf"},                           // and no fifth
        {R"(\UD83D\UDE00)", "😀"},                       // a surrogate pair
        {R"(\UD83D!\UDE00\U0)", "\uFFFD!\uFFFD\uFFFD"}, // lone, and the zero character
        {R"(\U22\U5C\Ua\Ud)", R"(\"\\\n\r)"},           // what PO writes as escapes
        {R"(\x41)", "x41"},
        {R"(\ \P\é\U)", " PéU"},
        {R"(\"\\\n\t\r\a\b\f\v\101\0)", R"(\"\\\n\t\r\a\b\f\v\101\0)"}, // the same in both
    };
    for (auto [text, expected] : rows) {
        std::string s = text;
        po_text(&s[0]);
        EXPECT_STREQ(s.c_str(), expected) << text;
    }
}

TEST(KindOfText, TellsAPoFileFromOtherTextWhereverItsHeadEnds) {
    // The first keyword at bytes 508 to 511, past a first look of 512 bytes.
    auto late = [](size_t at) { return "# " + std::string(at - 3, 'c') + "\nmsgid \"\"\n"; };
    std::pair<std::string, text_kind> rows[] = {
        {"msgid \"\"\nmsgstr \"\"\n", text_kind::po},
        {"msgid\n\t\"\"\n", text_kind::po},
        {"\xEF\xBB\xBF#~ msgid \"x\"\r\nmsgstr[0] \"\"\r\n", text_kind::po},
        {late(508), text_kind::po},
        {late(511), text_kind::po},
        {"\n \n", text_kind::blank},
        {"# a comment alone\n", text_kind::other},
        {"msgid\tmsgstr\tnote\n", text_kind::other}, // a TSV export's columns
        {"msgid msgstr context\n", text_kind::other},
        {"msgid and msgstr are the two keywords\n", text_kind::other},
        {"msgid = \"x\"\n", text_kind::other}, // TOML, Python
        {"msgids \"x\"\n", text_kind::other},
        {"msgstr[x] \"\"\n", text_kind::other},
        {std::string("#\0 \0c\0\n\0", 8), text_kind::other}, // UTF-16 without a mark
        {"\xFF\xFEm\0", text_kind::other},
    };
    for (auto &[text, kind] : rows) {
        EXPECT_EQ(kind_of_text(text.data(), text.size(), false), kind) << text;
        for (size_t size = 0; size < text.size(); size++) {
            text_kind early = kind_of_text(text.data(), size, true);
            EXPECT_TRUE(early == text_kind::undecided || early == kind) << text << " at " << size;
        }
    }
    // read_head reads on past a long comment, to the end of a short file,
    // and gives up, refusing, after 64 KiB of comments.
    std::string comments;
    while (comments.size() < po_head_size)
        comments += "#\n";
    std::pair<std::string, text_kind> files[] = {
        {"# " + std::string(600, 'c') + "\nmsgid \"\"\n", text_kind::po},
        {"\n\n\n", text_kind::blank},
        {comments, text_kind::other},
    };
    for (auto &[text, kind] : files) {
        FILE *file = std::tmpfile();
        std::fputs(text.c_str(), file);
        std::fflush(file);
        std::vector<char> head(po_head_size);
        text_kind got = text_kind::undecided;
        EXPECT_EQ(read_head(fileno(file), head.data(), got), static_cast<ssize_t>(text.size()));
        EXPECT_EQ(got, kind) << text.substr(0, 20);
        std::fclose(file);
    }
}
