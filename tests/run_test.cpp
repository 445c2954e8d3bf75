// The built tool, run on files in UTF-16 through the real iconv.
#include "harness.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const char usage[] = "Usage: quorvel filename.strings filename.po\n";

struct Run : tool_test {};

TEST_F(Run, UsageErrorsCreateNothing) {
    std::string in = strings("\"a\" = \"b\";\n");
    for (auto args : std::vector<std::vector<std::string>>{{}, {in}, {in, po, "x"}}) {
        run_result r = run_quorvel(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, usage);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(exists(po));
    }
}

TEST_F(Run, ConvertsBothByteOrders) {
    std::string text = "/* Buttons */\n"
                       "\"Cancel\" = \"Abbrechen\";\n"
                       "\"Open \\\"%@\\\"\" = \"Öffne „%@“ 📂\";\n"
                       "\"Empty\" = \"\";\n";
    std::string expected = "msgid \"Cancel\"\nmsgstr \"Abbrechen\"\n"
                           "msgid \"Open \\\"%@\\\"\"\nmsgstr \"Öffne „%@“ 📂\"\n"
                           "msgid \"Empty\"\nmsgstr \"\"\n";
    for (bool little_endian : {true, false}) {
        write_file(dir / "in.strings", utf16(text, little_endian));
        run_result r = run_quorvel({dir / "in.strings", po});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, po + ": 3 messages.\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(po), expected);
    }
}

TEST_F(Run, SummaryNamesThePoPath) {
    std::string in = strings("\"a\" = \"b\";\n\"c\" = \"d\";\n");
    run_result r = run_quorvel({in, "out.po"}, in_folder(dir.path));
    EXPECT_EQ(r.out, "out.po: 2 messages.\n");
}

TEST_F(Run, PathsReachTheConverterWholeAndInert) {
    std::string marker = dir / "ran";
    std::vector<std::string> names = {"with blanks.strings", "it's.strings", "$(touch ran).strings",
                                      "-f.strings", "'; touch ran; '.strings"};
    // A path far longer than a shell command line of 1023 bytes.
    std::string deep = dir.path;
    for (int i = 0; i < 12; i++) {
        deep += "/" + std::string(100, 'a' + static_cast<char>(i));
        mkdir(deep.c_str(), 0755);
    }
    for (auto &name : names)
        write_file(dir / name, utf16("\"k\" = \"v\";\n"));
    write_file(deep + "/long.strings", utf16("\"k\" = \"v\";\n"));
    names.push_back(deep + "/long.strings");
    for (auto &name : names) {
        SCOPED_TRACE(name);
        run_result r = run_quorvel({name, po}, in_folder(dir.path));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(po), "msgid \"k\"\nmsgstr \"v\"\n");
    }
    EXPECT_FALSE(exists(marker));
}

TEST_F(Run, MissingStringsFileLeavesPoUntouched) {
    write_file(po, "old");
    run_result r = run_quorvel({dir / "missing.strings", po});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir / "missing.strings: No such file or directory\n");
    EXPECT_EQ(read_file(po), "old");
}

TEST_F(Run, UnreadableStringsFileLeavesPoUntouched) {
    if (!can_run_unprivileged())
        GTEST_SKIP() << "runs as root, and setpriv is absent";
    chmod(dir.path.c_str(), 0777);
    std::string in = strings("\"a\" = \"b\";\n");
    chmod(in.c_str(), 0);
    run_result r = run_quorvel({in, po}, as_nobody());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, in + ": Permission denied\n");
    EXPECT_FALSE(exists(po));
}

TEST_F(Run, MissingConverterLeavesPoUntouched) {
    std::string in = strings("\"a\" = \"b\";\n");
    run_result r = run_quorvel({in, po}, on_path(dir / "nowhere"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "iconv: No such file or directory\n");
    EXPECT_FALSE(exists(po));
}

TEST_F(Run, FailedConversionKeepsWhatWasWrittenAndFails) {
    // An odd number of bytes: iconv converts the first line, then fails.
    std::string in = dir / "odd.strings";
    write_file(in, utf16("\"a\" = \"b\";\n\"c\" = \"d\";\n") + "x");
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(in + ": conversion failed: iconv exited with status 1\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\nmsgid \"c\"\nmsgstr \"d\"\n");

    // A directory opens, but cannot be converted.
    r = run_quorvel({dir.path, po});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.path + ": conversion failed"), std::string::npos) << r.err;
}

TEST_F(Run, ConverterKilledBySignalFails) {
    std::string path = stand_in("printf '\"a\" = \"b\";\\n'; kill -9 $$\n");
    std::string in = strings("\"a\" = \"b\";\n");
    run_result r = run_quorvel({in, po}, on_path(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, in + ": conversion failed: iconv killed by signal 9\n");
    EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\n");
}

TEST_F(Run, UnopenablePoFileIsReported) {
    std::string in = strings("\"a\" = \"b\";\n");
    std::string bad = dir / "no/such/dir/out.po";
    run_result r = run_quorvel({in, bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, bad + ": No such file or directory\n");
}

TEST_F(Run, WriteErrorsFail) {
    std::string in = strings("\"a\" = \"b\";\n");
    run_result r = run_quorvel({in, "/dev/full"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "/dev/full: No space left on device\n");

    r = run_quorvel({in, po}, stdout_to("/dev/full"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "stdout: No space left on device\n");
    EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\n");
}

TEST_F(Run, ExistingPoFileIsRewritten) {
    write_file(po, "msgid \"old\"\nmsgstr \"alt\"\n");
    std::string in = strings("/* nothing here */\n");
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, po + ": 0 messages.\n");
    EXPECT_EQ(read_file(po), "");

    // An empty strings file converts to nothing as well.
    write_file(in, "");
    EXPECT_EQ(run_quorvel({in, po}).out, po + ": 0 messages.\n");
}

TEST_F(Run, RefusesToOverwriteTheStringsFile) {
    std::string in = strings("\"a\" = \"b\";\n");
    std::string before = read_file(in);
    ASSERT_EQ(link(in.c_str(), po.c_str()), 0);
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, po + ": is the strings file itself; not overwritten\n");
    EXPECT_EQ(read_file(in), before);
}

TEST_F(Run, TellsEncodingsApart) {
    std::string text = "\"Größe\" = \"サイズ\";\n";
    std::string po_text = "msgid \"Größe\"\nmsgstr \"サイズ\"\n";
    std::vector<std::pair<const char *, std::string>> kinds = {
        {"UTF-16LE without mark", utf16(text, true, false)},
        {"UTF-16BE without mark", utf16(text, false, false)},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + text},
        {"UTF-8 without mark", text},
        {"ASCII, two bytes", "\"\""}};
    for (auto &[kind, bytes] : kinds) {
        SCOPED_TRACE(kind);
        write_file(dir / "in.strings", bytes);
        run_result r = run_quorvel({dir / "in.strings", po});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(read_file(po), bytes.size() == 2 ? "" : po_text);
    }

    // Text that is invalid in the encoding chosen fails as any conversion.
    for (std::string bytes : {"\"a\" = \"\xC3\";\n", "\xEF\xBB\xBF\xFF\n", "x"}) {
        write_file(dir / "in.strings", bytes);
        run_result r = run_quorvel({dir / "in.strings", po});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(dir / "in.strings: conversion failed"), std::string::npos) << r.err;
    }
}

TEST_F(Run, ReadsAPipeWithoutTakingItsFirstBytes) {
    std::string fifo = dir / "fifo.strings";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::thread writer([&] { write_file(fifo, utf16("\"a\" = \"b\";\n")); });
    run_result r = run_quorvel({fifo, po});
    writer.join();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\n");
}

TEST_F(Run, ConvertsTheBundledExample) {
    std::string example = QUORVEL_EXAMPLES;
    run_result r = run_quorvel({example + "/Localizable.strings", po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(po), read_file(example + "/Localizable.po"));
}

} // namespace
