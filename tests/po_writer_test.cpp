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
    std::fclose(po);
    EXPECT_EQ(std::string(data, size), "msgid \"Cancel\"\n"
                                       "msgstr \"Abbrechen\"\n"
                                       "msgid \"\"\n"
                                       "msgstr \"a\\nb \\\"c\\\" 保存 %1$@\"\n");
    std::free(data);
}
