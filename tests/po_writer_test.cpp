#include "po_writer.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

TEST(WritePo, WritesKeywordAndTextByteForByte) {
    char *data = nullptr;
    size_t size = 0;
    FILE *po = open_memstream(&data, &size);
    write_po(po, "msgid", "Cancel");
    write_po(po, "msgstr", "Abbrechen");
    write_po(po, "msgid", "");
    write_po(po, "msgstr", R"(a\nb \"c\" 保存 %1$@)");
    // Texts of every length around the line that the writer puts together.
    std::string around;
    for (size_t length = 1000; length < 1030; length++) {
        write_po(po, "msgstr", std::string(length, 'x').c_str());
        around += "msgstr \"" + std::string(length, 'x') + "\"\n";
    }
    std::fclose(po);
    EXPECT_EQ(std::string(data, size), "msgid \"Cancel\"\n"
                                       "msgstr \"Abbrechen\"\n"
                                       "msgid \"\"\n"
                                       "msgstr \"a\\nb \\\"c\\\" 保存 %1$@\"\n" +
                                           around);
    std::free(data);
}
