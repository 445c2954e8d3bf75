#include "po_writer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>

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
