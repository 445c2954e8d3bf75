// The built tool under faults: converters that die or fail, hostile bytes,
// large files, lines at the buffer's edge, and files it may not write.
#include "harness.h"

#include <algorithm>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Faults : tool_test {};

// Checks that a PO file holds nothing but msgid and msgstr lines in turn,
// each with one quoted text; returns the number of entries.
size_t po_entries(const std::string &po) {
    size_t lines = 0;
    for (size_t start = 0; start < po.size(); lines++) {
        size_t end = po.find('\n', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "PO file ends inside a line";
            return 0;
        }
        std::string line = po.substr(start, end - start);
        std::string keyword = lines % 2 == 0 ? "msgid \"" : "msgstr \"";
        EXPECT_EQ(line.compare(0, keyword.size(), keyword), 0) << line;
        EXPECT_EQ(line.back(), '"') << line;
        EXPECT_EQ(line.find('\0'), std::string::npos);
        start = end + 1;
    }
    EXPECT_EQ(lines % 2, 0u);
    return lines / 2;
}

// A strings file of n entries, "key<i>" = "value <i>";, in UTF-8.
std::string entries_text(int n) {
    std::string text = "/* generated */\n";
    for (int i = 0; i < n; i++)
        text += "\"key" + std::to_string(i) + "\" = \"value " + std::to_string(i) + "\";\n";
    return text;
}

TEST_F(Faults, ConverterKilledHalfwayThroughALargeFile) {
    std::string in = strings(entries_text(200000));
    std::string path = stand_in(find_program("iconv") + " \"$@\" | head -c 2000000; kill -9 $$\n");
    run_result r = run_quorvel({in, po}, on_path(path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // The line cut in the middle is told of first.
    std::string failed = in + ": conversion failed: iconv killed by signal 9\n";
    EXPECT_EQ(r.err.substr(r.err.size() - failed.size()), failed);
    // Nothing of the 2 MB converted stands anywhere.
    EXPECT_FALSE(exists(po));
    EXPECT_EQ(hidden_files(dir.path), std::vector<std::string>{});
}

TEST_F(Faults, GarbageEndsInASummaryOrAFailure) {
    std::vector<std::string> inputs = {read_file("/proc/self/exe").substr(0, 1 << 18)};
    std::mt19937 random(20261208);
    for (int i = 0; i < 6; i++) {
        std::string bytes(1 << 16, '\0');
        for (auto &c : bytes)
            c = static_cast<char>(random() % (i < 3 ? 256 : 8) + (i < 3 ? 0 : '"' - 2));
        inputs.push_back(bytes);
    }
    for (size_t i = 0; i < inputs.size(); i++) {
        SCOPED_TRACE(i);
        write_file(dir / "garbage.strings", inputs[i]);
        run_result r = run_quorvel({dir / "garbage.strings", po});
        size_t written = po_entries(read_file(po));
        if (r.status == 0)
            EXPECT_EQ(r.out, po + ": " + std::to_string(written) + " messages.\n");
        else
            EXPECT_NE(r.err.find(": conversion failed: "), std::string::npos) << r.err;
        EXPECT_LE(r.status, 1);
    }
}

TEST_F(Faults, MillionEntries) {
    std::string in = strings(entries_text(1000000));
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, po + ": 1000000 messages.\n");
    std::string text = read_file(po);
    EXPECT_EQ(text.compare(0, 35, "msgid \"key0\"\nmsgstr \"value 0\"\nmsgid"), 0);
    std::string last = "msgid \"key999999\"\nmsgstr \"value 999999\"\n";
    EXPECT_EQ(text.compare(text.size() - last.size(), last.size(), last), 0);
    EXPECT_EQ(po_entries(text), 1000000u);
}

TEST_F(Faults, FilesPastTwoAndFourGiB) {
    // A sparse strings file of 4.5 GiB is opened and sniffed; a stand-in
    // converter then hands on 2.2 GB of entries, so that the PO file passes
    // 2 GiB, the limit of a 32-bit off_t.
    std::string in = dir / "large.strings";
    write_file(in, utf16("\"a\" = \"b\";\n"));
    ASSERT_EQ(truncate(in.c_str(), (9ll << 30) / 2), 0);
    const long long entries = 2150000;
    std::string line = "\"k\" = \"" + std::string(1000, 'v') + "\";";
    std::string path = stand_in("yes '" + line + "' | head -n " + std::to_string(entries) + "\n");
    run_result r = run_quorvel({in, po}, on_path(path));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, po + ": " + std::to_string(entries) + " messages.\n");
    struct stat st;
    ASSERT_EQ(stat(po.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, entries * (10 + 1010));
    EXPECT_GT(st.st_size, 1ll << 31);
}

TEST_F(Faults, LinesAtTheBuffersEdge) {
    // Sizes in UTF-8, newline included. The buffer takes 8191 bytes of a
    // line; the entry holds while its value's closing quote is among them.
    struct {
        size_t size;
        bool kept;
    } cases[] = {{8190, true}, {8191, true}, {8192, true}, {8193, true}, {8194, false}};
    for (auto [size, kept] : cases) {
        for (std::string fill : {"v", "ä"}) {
            SCOPED_TRACE(std::to_string(size) + " bytes of " + fill);
            std::string head = "\"k\" = \"", tail = "\";\n";
            std::string value;
            while (head.size() + value.size() + tail.size() < size)
                value +=
                    head.size() + value.size() + tail.size() + fill.size() <= size ? fill : "w";
            std::string line = head + value + tail;
            ASSERT_EQ(line.size(), size);
            std::string in = strings(line + "\"next\" = \"n\";\n");
            run_result r = run_quorvel({in, po});
            EXPECT_EQ(r.status, 0);
            std::string next = "msgid \"next\"\nmsgstr \"n\"\n";
            EXPECT_EQ(read_file(po),
                      kept ? "msgid \"k\"\nmsgstr \"" + value + "\"\n" + next : next);
        }
    }
}

TEST_F(Faults, LongLineMakesNoEntryFromItsMiddle) {
    // Also a whole file with classic Mac line ends: one long line.
    std::string comment =
        "/* " + std::string(8188, 'x') + "\"injected\" = \"from a comment\"; */\n";
    std::string in = strings("\"a\" = \"b\";\n" + comment + "\"c\" = \"d\";\n");
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, po + ": 2 messages.\n");
    EXPECT_EQ(r.err, in + ":2: line longer than 8191 bytes: entries in it may be lost\n");
    EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\nmsgid \"c\"\nmsgstr \"d\"\n");
}

TEST_F(Faults, PassedOverLinesAreCappedAndNeverFatal) {
    std::string text = "\"a\" = \"b\";\n";
    for (int i = 0; i < 150; i++)
        text += "Key" + std::to_string(i) + " = \"v\";\n";
    std::string in = strings(text);
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, po + ": 1 messages.\n");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 101);
    EXPECT_EQ(r.err.compare(0, in.size() + 37, in + ":2: key not quoted: line passed over\n"), 0);
    EXPECT_NE(r.err.find(in + ":101: key not quoted"), std::string::npos);
    std::string more = in + ": 50 more lines passed over\n";
    EXPECT_EQ(r.err.substr(r.err.size() - more.size()), more);

    // Standard error full, or a pipe that nobody reads.
    int full = open("/dev/full", O_WRONLY), broken[2];
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]);
    for (int fd : {full, broken[1]}) {
        std::remove(po.c_str());
        run_options options;
        options.stderr_fd = fd;
        r = run_quorvel({in, po}, options);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, po + ": 1 messages.\n");
        EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\n");
        close(fd);
    }
}

TEST_F(Faults, ZeroBytesEndALinesText) {
    std::string text = std::string("\"k\0ey\" = \"v\";\n", 14) +
                       std::string("\"k\" = \"va\0lue\";\n", 16) +
                       std::string("\"a\" = \"b\";\0\n", 12) + "\"c\" = \"d\";\n";
    std::string in = strings(text);
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(po), "msgid \"a\"\nmsgstr \"b\"\nmsgid \"c\"\nmsgstr \"d\"\n");
}

TEST_F(Faults, PoPathThatIsADirectory) {
    std::string in = strings("\"a\" = \"b\";\n");
    run_result r = run_quorvel({in, dir.path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, dir.path + ": Is a directory\n");
}

TEST_F(Faults, UnwritablePoDirectory) {
    if (!can_run_unprivileged())
        GTEST_SKIP() << "runs as root, and setpriv is absent";
    chmod(dir.path.c_str(), 0755);
    std::string in = strings("\"a\" = \"b\";\n");
    std::string locked = dir / "locked";
    mkdir(locked.c_str(), 0555);
    run_result r = run_quorvel({in, locked + "/out.po"}, as_nobody());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, locked + "/out.po: Permission denied\n");
    EXPECT_FALSE(exists(locked + "/out.po"));
}

} // namespace
