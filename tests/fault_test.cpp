// The built tool under faults: converters that die or fail, hostile bytes,
// large files, lines at the buffer's edge, and files it may not write.
#include "harness.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

struct Faults : tool_test {};

// The value of a file's extended attribute, or an empty string.
std::string read_attribute(const std::string &path, const char *name) {
    char value[4096];
    ssize_t size = getxattr(path.c_str(), name, value, sizeof value);
    return size > 0 ? std::string(value, static_cast<size_t>(size)) : "";
}

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
    // The line cut in the middle is no fault of the file: not told of.
    EXPECT_EQ(r.err, in + ": conversion failed: iconv killed by signal 9\n");
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
            EXPECT_TRUE(r.err.find(": conversion failed: ") != std::string::npos ||
                        r.err.find(": a PO file, not a strings file") != std::string::npos)
                << r.err;
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
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
    struct statvfs disk;
    const unsigned long long needed = 2300000000;
    if (statvfs(dir.path.c_str(), &disk) == 0 &&
        static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize < needed)
        GTEST_SKIP() << "needs 2.3 GB free in " << dir.path << " (TMPDIR) for a PO file of 2.2 GB";
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
    // First, and after an entry, where the reader's quick loop takes them.
    for (auto [size, kept] : cases) {
        for (std::string fill : {"v", "ä", "after an entry"}) {
            std::string first = fill.size() > 2 ? "\"a\" = \"b\";\n" : "";
            fill = fill.size() > 2 ? "v" : fill;
            SCOPED_TRACE(std::to_string(size) + " bytes of " + fill + ", after " + first);
            std::string head = "\"k\" = \"", tail = "\";\n";
            std::string value;
            while (head.size() + value.size() + tail.size() < size)
                value +=
                    head.size() + value.size() + tail.size() + fill.size() <= size ? fill : "w";
            std::string line = head + value + tail;
            ASSERT_EQ(line.size(), size);
            std::string in = strings(first + line + "\"next\" = \"n\";\n/* and more after it */\n");
            run_result r = run_quorvel({in, po});
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err.find("longer than 8191") != std::string::npos, size > 8191) << r.err;
            std::string next = "msgid \"next\"\nmsgstr \"n\"\n";
            EXPECT_EQ(read_file(po), (first.empty() ? "" : "msgid \"a\"\nmsgstr \"b\"\n") +
                                         (kept ? "msgid \"k\"\nmsgstr \"" + value + "\"\n" : "") +
                                         next);
        }
    }
}

TEST_F(Faults, LongLineMakesNoEntryFromItsMiddle) {
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
    // Each reason, as the manual names it.
    std::string why =
        strings("\"open key = x;\n\"no value\" = ;\n\"open value\" = \"x;\n \"a\" = \"b\";\n"
                "\"\\nKey\" = \"b\";\n\"split\"\n  = \"v\";\n/* c */ \"k\" = \"v\";\n\"\" = "
                "\"x\";\n/* old:\n\"o\" = \"p\";\n",
                "why.strings");
    run_result told = run_quorvel({why, po});
    std::string catalogue = read_file(po);
    EXPECT_EQ(catalogue, "#, fuzzy\nmsgid \"\\nKey\"\nmsgstr \"b\"\nmsgid \"\"\nmsgstr \"x\"\n");
    // A quiet run, whose standard error is the PO file, writes the same catalogue.
    run_options quiet;
    quiet.stderr_fd = open(po.c_str(), O_WRONLY | O_TRUNC);
    EXPECT_EQ(run_quorvel({why, "/dev/stderr"}, quiet).status, 0);
    close(quiet.stderr_fd);
    EXPECT_EQ(read_file(po), catalogue);
    EXPECT_EQ(
        told.err,
        why + ":1: key not closed: line passed over\n" + why +
            ":2: no value after the key: line passed over\n" + why +
            ":3: value not closed: line passed over (a value cannot go on over several lines)\n" +
            why + ":4: entry does not begin its line: line passed over\n" + why +
            ":5: the key begins with a newline and the value does not: marked fuzzy, which "
            "msgfmt leaves out\n" +
            why +
            ":6: no value after the key: line passed over (a value cannot go on over "
            "several lines)\n" +
            why + ":8: entry after a comment on its line: line passed over\n" + why +
            ":9: empty key: gettext takes msgid \"\" for the catalogue's header\n" + why +
            ":10: comment not closed: every line after it passed over\n");
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
    for (std::string path : {dir.path, dir.path + "/", std::string("./")}) {
        run_result r = run_quorvel({in, path}, in_folder(dir.path));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, path + ": Is a directory\n");
    }
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

    // A file its owner made read-only stays as it is, though its folder
    // would take a new one.
    std::string open_folder = dir / "open", read_only = open_folder + "/out.po";
    mkdir(open_folder.c_str(), 0777);
    chmod(open_folder.c_str(), 0777);
    write_file(read_only, "old", 0444);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(read_only.c_str(), 65534, 65534), 0);
    }
    r = run_quorvel({in, read_only}, as_nobody());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, read_only + ": Permission denied\n");
    EXPECT_EQ(read_file(read_only), "old");
}

// A run in odd surroundings, and what it must leave.
struct odd_run {
    std::vector<std::string> args;
    run_options options;
    int status;
    std::string where; // the PO file as the test reads it
    const char *bytes; // what it must hold; null: it must not exist
    std::function<void(const run_result &)> also = nullptr;
    bool here = true;     // false where it cannot run
    std::string err = ""; // what it must say, where given
};

// Makes the folders of a relative path of many long names below a folder.
std::string long_path(int at, char letter) {
    std::string path;
    for (int i = 0; i < 14; i++) {
        path += (i > 0 ? "/" : "") + std::string(200, letter);
        mkdirat(at, path.c_str(), 0755);
    }
    return path;
}

TEST_F(Faults, OddRunsReplaceTheCatalogueWhollyOrNotAtAll) {
    const char *old = "msgid \"old\"\nmsgstr \"alt\"\n", *catalogue = "msgid \"a\"\nmsgstr \"b\"\n";
    std::string good = strings("\"a\" = \"b\";\n"), bad = dir / "bad.strings";
    write_file(bad, utf16("\"a\" = \"b\";\n") + "x"); // iconv fails at the odd last byte
    chmod(dir.path.c_str(), 0755);
    bool unprivileged = can_run_unprivileged(), root = geteuid() == 0;
    int deep = -1;
    std::string deep_po, many = strings(entries_text(5000), "large.strings");
    std::vector<std::string> mounts;
    // A PO file with a second name, which is copied over, last changed in 2000.
    const timespec y2k[2] = {{946684800, 0}, {946684800, 0}};
    auto linked = [&](const std::string &f) {
        write_file(f + "/out.po", old);
        EXPECT_EQ(link((f + "/out.po").c_str(), (f + "/second.po").c_str()), 0);
        EXPECT_EQ(utimensat(AT_FDCWD, (f + "/out.po").c_str(), y2k, 0), 0);
        return f + "/out.po";
    };
    // Whether a file was last changed when linked left it.
    auto unchanged_since = [&](const std::string &path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && st.st_mtime == y2k[1].tv_sec;
    };
    // A run under strace, whose calls of one kind get what inject says.
    std::string strace = find_program("strace");
    bool traced = !strace.empty() && !wrapped() && !QUORVEL_SANITIZED;
    auto injected = [&](const std::string &call, const std::string &inject) {
        run_options o;
        o.prefix = {strace, "-qq",           "-o", "/dev/null",
                    "-e",   "trace=" + call, "-e", "inject=" + call + ":" + inject};
        return o;
    };

    // A stand-in converter that signals the tool once its catalogue is staged.
    auto signalled = [&](const std::string &f, const char *sig, const std::string &then) {
        write_file(f + "/out.po", old);
        return on_path(stand_in("until ls -l /proc/$PPID/fd | grep -q 'deleted\\|/\\.out\\.po\\.'; "
                                "do sleep 0.01; done; kill -" +
                                std::string(sig) + " $PPID; " + then + "\n"));
    };
    // A run under strace that sees only the calls on path (a name in the
    // working folder f), injected as inject says.
    auto on_name = [&](const std::string &f, const std::string &path, const std::string &inject) {
        run_options o = in_folder(f);
        o.prefix = {strace, "-qq", "-o", "/dev/null", "-P", path, "-e", "trace="};
        for (size_t at = 0, next; at < inject.size(); at = next + 1) {
            next = std::min(inject.find(' ', at), inject.size());
            std::string one = inject.substr(at, next - at);
            o.prefix[7] += (at > 0 ? "," : "") + one.substr(0, one.find(':'));
            o.prefix.insert(o.prefix.end(), {"-e", "inject=" + one});
        }
        return o;
    };
    // A run into a FIFO whose reader, a shell command on the FIFO ($0) in
    // the background, writes what it reads to out.po.txt.
    auto fifo = [&](const std::string &f, const std::string &reader, const std::string &in,
                    const char *bytes) {
        EXPECT_EQ(mkfifo((f + "/out.po").c_str(), 0644), 0);
        run_options o;
        o.prefix = {"sh", "-c", "(" + reader + ") >\"$0.txt\" & \"$@\"; s=$?; wait; exit $s",
                    f + "/out.po"};
        return odd_run{{in, f + "/out.po"}, o, 0, f + "/out.po.txt", bytes};
    };
    // Waits for the file that a stand-in converter makes, then ms milliseconds.
    auto await_file = [](const std::string &file, useconds_t ms) {
        for (int i = 0; i < 1000 && !exists(file); i++)
            usleep(10000);
        usleep(ms * 1000);
    };
    // A stand-in converter that, once the tool holds the PO file open, moves
    // it to moved.po in folder and does what then says there.
    auto swapped = [&](const std::string &folder, const std::string &then) {
        return on_path(stand_in("cd '" + folder +
                                "'; until ls -l /proc/$PPID/fd | grep -q 'out.po$'; do sleep 0.01; "
                                "done; mv out.po moved.po; " +
                                then + "; exec " + find_program("iconv") + " \"$@\"\n"));
    };
    // A run on a PO file, with a second name or not, whose name another takes.
    auto taken_meanwhile = [&](const std::string &f, bool second) {
        second ? (void)linked(f) : write_file(f + "/out.po", old);
        std::string where = f + (second ? "/second.po" : "/out.po");
        const char *bytes = second ? old : "other\n";
        odd_run run{{good, f + "/out.po"}, swapped(f, "echo other >out.po"), 1, where, bytes};
        run.err = f + "/out.po: File exists: another file took its name during the run\n";
        return run;
    };
    // A run whose PO file's name another file is moved to just before the
    // tool gives it, or puts the catalogue in its place.
    auto taken_at_last = [&](const std::string &f, const std::string &inject) {
        std::string done = f + "/converted";
        run_options o = on_name(f, f,
                                inject + "linkat:delay_enter=600000 renameat:delay_enter=600000 "
                                         "renameat2:delay_enter=600000");
        o.path = stand_in(find_program("iconv") + " \"$@\"; s=$?; : >'" + done + "'; exit $s\n");
        o.meanwhile = [=](pid_t) {
            await_file(done, 200);
            write_file(f + "/other", "other");
            std::rename((f + "/other").c_str(), (f + "/out.po").c_str());
        };
        odd_run run{{good, "out.po"}, o, 1, f + "/out.po", "other", nullptr, traced};
        run.err = "out.po: File exists: another file took its name during the run\n";
        return run;
    };
    // A run as nobody on folder's out.po, which put makes another file, of
    // nobody's, between the tool's look and its open.
    auto swapped_at_open = [&](const std::string &f, const std::string &folder,
                               std::function<void(const char *)> put) {
        std::string out = folder + "/out.po", started = f + "/tmp/started";
        run_options o = on_name(folder, folder, "openat:delay_enter=500000:when=1");
        o.unprivileged = true;
        o.path = stand_in(": >'" + started + "'; exec " + find_program("iconv") + " \"$@\"\n");
        o.meanwhile = [=](pid_t) {
            await_file(started, 150);
            std::remove(out.c_str());
            put(out.c_str());
            EXPECT_EQ(lchown(out.c_str(), 65534, 65534) == 0, root);
        };
        odd_run run{{good, "out.po"}, o, 1, f + "/moved", nullptr, nullptr, traced};
        run.err = "out.po: File exists: another file took its name during the run\n";
        return run;
    };
    // Another user's file in a sticky folder that only the group may write, the
    // level read from level in a mount namespace (which a chroot may not give).
    auto group_sticky = [&](const std::string &f, const std::string &level, bool refused) {
        std::string out = f + "/group/out.po";
        mkdir((f + "/group").c_str(), 01775);
        chmod((f + "/group").c_str(), 01775);
        write_file(out, old);
        std::string bind = "mount --bind \"$0\" /proc/sys/fs/protected_regular && exec \"$@\"";
        run_options o;
        o.prefix = {"unshare", "-m", "sh", "-c", bind, level};
        odd_run run{{good, out}, o, refused, out, refused ? old : catalogue};
        run.here = root && chown(out.c_str(), 65534, 65534) == 0 && !wrapped() &&
                   std::system("unshare -m true 2>/dev/null") == 0;
        run.err = refused ? out + ": Permission denied\n" : "";
        return run;
    };
    // A PO file of nobody's in a folder that its user may not write.
    auto locked = [&](const std::string &f) {
        std::string out = f + "/locked/out.po";
        mkdir((f + "/locked").c_str(), 0755);
        write_file(out, old);
        EXPECT_EQ(chown(out.c_str(), 65534, 65534) == 0, root);
        chmod((f + "/locked").c_str(), 0555);
        return out;
    };
    // What a run says, under path, of the temporary file it left in folder.
    auto left_behind = [](const std::string &folder, const std::string &path, const char *name) {
        return [=](const run_result &r) {
            std::string told = path + ": Permission denied: the temporary file ." + name + ".";
            EXPECT_NE(r.err.find(told), std::string::npos) << r.err;
            for (auto &left : hidden_files(folder))
                std::remove((folder + "/" + left).c_str());
        };
    };
    static int broken[2];
    std::vector<std::pair<const char *, std::function<odd_run(const std::string &)>>> runs = {
        {"flock(1) held on a PO file with a second name while the tool copies over it",
         [&](const std::string &f) {
             run_options o;
             o.prefix = {"timeout", "10", "flock", linked(f)};
             return odd_run{{good, f + "/out.po"}, o, 0, f + "/second.po", catalogue};
         }},
        {"SIGKILL once the catalogue is staged",
         [&](const std::string &f) {
             return odd_run{{good, f + "/out.po"},
                            signalled(f, "KILL", "exit 0"),
                            -SIGKILL,
                            f + "/out.po",
                            old};
         }},
        {"SIGUSR1 once the catalogue is staged",
         [&](const std::string &f) {
             return odd_run{{good, f + "/out.po"},
                            signalled(f, "USR1", "exec sleep 30"),
                            -SIGUSR1,
                            f + "/out.po",
                            old};
         }},
        {"SIGQUIT at its default once the catalogue is staged in a named file",
         [&](const std::string &f) {
             run_options o = on_name(f, f, "openat:error=EOPNOTSUPP:when=2");
             o.path = signalled(f, "QUIT", "exec sleep 30").path;
             return odd_run{{good, "out.po"}, o, -SIGQUIT, f + "/out.po", old, nullptr, traced};
         }},
        {"the C library's own signals once the catalogue is staged in a named file",
         [&](const std::string &f) {
             run_options o = on_name(f, f, "openat:error=EOPNOTSUPP:when=2");
             o.path =
                 signalled(f, "32 $PPID; kill -33", "exec " + find_program("iconv") + " \"$@\"")
                     .path;
             // Set back to their default, which glibc's posix_spawn does not
             // give them, by x86-64's rt_sigaction.
             std::string python = find_program("python3");
             o.prefix.insert(o.prefix.begin(),
                             {python, "-c",
                              "import ctypes, os, sys\nfor s in 32, 33, 34: ctypes.CDLL(None)."
                              "syscall(13, s, ctypes.create_string_buffer(32), None, 8)\n"
                              "os.execv(sys.argv[1], sys.argv[1:])"});
             odd_run run{{good, "out.po"}, o, 0, f + "/out.po", catalogue};
#if defined(__x86_64__)
             run.here = traced && !python.empty();
#else
             run.here = false;
#endif
             return run;
         }},
        {"a real-time signal once the catalogue is staged",
         [&](const std::string &f) {
             // The last, which every C library leaves to programs, and
             // valgrind keeps for itself.
             odd_run run{{good, f + "/out.po"},
                         signalled(f, std::to_string(SIGRTMAX).c_str(), "exec sleep 30"),
                         -SIGRTMAX,
                         f + "/out.po",
                         old};
             run.here = !wrapped("valgrind");
             return run;
         }},
        {"the first real-time signal that every C library leaves to programs (musl's SIGRTMIN)",
         [&](const std::string &f) {
             odd_run run{{good, f + "/out.po"},
                         signalled(f, "35", "exec sleep 30"),
                         -35,
                         f + "/out.po",
                         old};
             // An emulator maps the real-time signals onto others of its host's.
             run.here = !wrapped();
             return run;
         }},
        {"a slash after a link to a PO file, and after a dangling one",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             EXPECT_EQ(symlink("out.po", (f + "/lnk").c_str()), 0);
             EXPECT_EQ(symlink("new.po", (f + "/dangling").c_str()), 0);
             odd_run run{{good, f + "/lnk/"}, {}, 1, f + "/out.po", old, [=](const run_result &) {
                             run_result r = run_quorvel({good, f + "/dangling/"});
                             EXPECT_EQ(r.err, f + "/dangling/: Is a directory\n");
                             EXPECT_FALSE(exists(f + "/new.po"));
                         }};
             run.err = f + "/lnk/: Not a directory\n";
             return run;
         }},
        {"another user's file in a sticky folder of the group, the level unreadable",
         [&](const std::string &f) { return group_sticky(f, "/dev/null", true); }},
        {"another user's file in a sticky folder of the group, at level 1",
         [&](const std::string &f) {
             write_file(f + "/level", "1\n");
             return group_sticky(f, f + "/level", false);
         }},
        {"a socket named as the PO file",
         [&](const std::string &f) {
             sockaddr_un at = {};
             at.sun_family = AF_UNIX;
             std::snprintf(at.sun_path, sizeof at.sun_path, "%s/out.po", f.c_str());
             int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             odd_run run{
                 {good, f + "/out.po"}, {}, 1, f + "/new.po", nullptr, [=](const run_result &) {
                     struct stat st;
                     EXPECT_TRUE(stat((f + "/out.po").c_str(), &st) == 0 && S_ISSOCK(st.st_mode));
                 }};
             run.here = bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0;
             close(fd);
             run.err = f + "/out.po: No such device or address\n";
             return run;
         }},
        {"/dev/stdout into a pipe whose reader stops early",
         [&](const std::string &f) {
             run_options o;
             o.prefix = {"sh", "-c", "\"$@\" 2>/dev/null | head -c 10 >\"$0\"", f + "/out.po"};
             return odd_run{{many, "/dev/stdout"}, o, 0, f + "/out.po", "msgid \"key"};
         }},
        {"a failing run whose standard error is a pipe without a reader",
         [&](const std::string &f) {
             EXPECT_EQ(pipe(broken), 0);
             close(broken[0]);
             run_options o;
             o.stderr_fd = broken[1];
             o.meanwhile = [](pid_t) { close(broken[1]); };
             write_file(f + "/out.po", old);
             return odd_run{{bad, f + "/out.po"}, o, 1, f + "/out.po", old};
         }},
        {"another user's link in a sticky folder, in the folder part of the path",
         [&](const std::string &f) {
             mkdir((f + "/secret").c_str(), 0700);
             EXPECT_EQ(symlink((f + "/secret").c_str(), (f + "/tmp/dir").c_str()), 0);
             EXPECT_EQ(lchown((f + "/tmp/dir").c_str(), 65534, 65534) == 0, root);
             odd_run run{{good, f + "/tmp/dir/out.po"}, {}, 1, f + "/secret/out.po", nullptr};
             run.here = root;
             run.err = f + "/tmp/dir/out.po: Permission denied\n";
             return run;
         }},
        {"a second name planted in a sticky folder open to all",
         [&](const std::string &f) {
             write_file(f + "/victim", old);
             EXPECT_EQ(link((f + "/victim").c_str(), (f + "/tmp/out.po").c_str()), 0);
             return odd_run{
                 {good, f + "/tmp/out.po"}, {}, 0, f + "/victim", old, [=](const run_result &) {
                     EXPECT_EQ(read_file(f + "/tmp/out.po"), catalogue);
                 }};
         }},
        {"a new PO file's name taken just before the tool gives it",
         [&](const std::string &f) { return taken_at_last(f, ""); }},
        {"a new PO file's name taken just before the tool gives its named file",
         [&](const std::string &f) { return taken_at_last(f, "openat:error=EOPNOTSUPP:when=1 "); }},
        {"a file moved to an old PO file's name just before the tool puts its catalogue there",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             return taken_at_last(f, "");
         }},
        {"a PO file swapped for another before the rename",
         [&](const std::string &f) { return taken_meanwhile(f, false); }},
        {"a PO file with a second name swapped for another before the copy",
         [&](const std::string &f) { return taken_meanwhile(f, true); }},
        {"a FIFO without a reader swapped in between the tool's look and its open",
         [&](const std::string &f) {
             // Written but not read, so that only a write-only open can wait.
             write_file(f + "/out.po", old, 0200);
             EXPECT_EQ(chown((f + "/out.po").c_str(), 65534, 65534) == 0, root);
             return swapped_at_open(f, f, [](const char *out) { EXPECT_EQ(mkfifo(out, 0200), 0); });
         }},
        {"a FIFO with a reader swapped in, with the removed PO file's own number",
         [&](const std::string &f) {
             // A small ext2 gives a new file the lowest free number: the one
             // just freed.
             std::string fs = f + "/ext2", image = f + "/ext2.img";
             mkdir(fs.c_str(), 0755);
             bool here =
                 root && traced &&
                 std::system(("truncate -s 1M '" + image + "' && mkfs.ext2 -q -F -N 16 '" + image +
                              "' && mount -o loop '" + image + "' '" + fs + "' 2>/dev/null")
                                 .c_str()) == 0;
             if (here)
                 mounts.push_back(fs);
             chmod(fs.c_str(), 0777);
             write_file(fs + "/out.po", old, 0666);
             struct stat was = {};
             stat((fs + "/out.po").c_str(), &was);
             odd_run run = swapped_at_open(f, fs, [=](const char *out) {
                 struct stat now = {};
                 EXPECT_TRUE(mkfifo(out, 0666) == 0 && stat(out, &now) == 0 &&
                             now.st_ino == was.st_ino);
                 EXPECT_EQ(
                     std::system(("timeout 10 cat '" + std::string(out) + "' >'" + out + ".txt' &")
                                     .c_str()),
                     0);
             });
             run.also = [=](const run_result &) { EXPECT_EQ(read_file(fs + "/out.po.txt"), ""); };
             run.here = here;
             return run;
         }},
        {"a copy that fails after its room was reserved",
         [&](const std::string &f) {
             mkdir((f + "/small").c_str(), 0755);
             mounts.push_back(f + "/small");
             bool here =
                 mount("quorvel", mounts.back().c_str(), "tmpfs", 0, "size=1m,mode=755") == 0;
             std::string out = linked(f + "/small");
             struct statvfs before = {};
             statvfs(out.c_str(), &before);
             odd_run run{{many, out},
                         injected("pwrite64", "error=EIO:when=1"),
                         1,
                         out,
                         old,
                         [=](const run_result &) {
                             struct statvfs after = {};
                             statvfs(out.c_str(), &after);
                             EXPECT_EQ(after.f_bfree, before.f_bfree);
                             EXPECT_TRUE(unchanged_since(out));
                         }};
             run.here = here && traced;
             return run;
         }},
        {"a refused link at the path that standard error appends to",
         [&](const std::string &f) {
             write_file(f + "/victim", old);
             EXPECT_EQ(symlink((f + "/victim").c_str(), (f + "/tmp/out.po").c_str()), 0);
             EXPECT_EQ(lchown((f + "/tmp/out.po").c_str(), 65534, 65534) == 0, root);
             run_options o;
             o.prefix = {"sh", "-c", "exec \"$@\" 2>>\"$0\"", f + "/victim"};
             static std::string told;
             told = old + f + "/tmp/out.po: Permission denied\n";
             return odd_run{
                 {good, f + "/tmp/out.po"}, o, 1, f + "/victim", told.c_str(), nullptr, root};
         }},
        {"a named temporary file that cannot be removed after the copy",
         [&](const std::string &f) {
             linked(f);
             run_options o = on_name(f, f, "openat:error=EOPNOTSUPP:when=2 unlinkat:error=EACCES");
             auto told = left_behind(f, "out.po", "out.po");
             return odd_run{{good, "out.po"}, o, 0, f + "/second.po", catalogue, told, traced};
         }},
        {"a named temporary file in TMPDIR that cannot be removed after the copy",
         [&](const std::string &f) {
             std::string out = locked(f), tmp = f + "/tmp";
             // Relative, so that strace's path first matches the unnamed open.
             run_options o =
                 on_name(f, tmp, "openat:error=EOPNOTSUPP:when=1 unlinkat:error=EACCES");
             o.unprivileged = true;
             o.env = {"TMPDIR=tmp"};
             return odd_run{{good, out}, o, 0, out, catalogue, left_behind(tmp, "tmp", "quorvel"),
                            traced};
         }},
        {"a path through 40 links, and one through 41",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             for (int i = 0; i <= 40; i++)
                 std::filesystem::create_symlink(i < 40 ? "l" + std::to_string(i + 1) : "out.po",
                                                 f + "/l" + std::to_string(i));
             return odd_run{
                 {good, f + "/l1"}, {}, 0, f + "/out.po", catalogue, [=](const run_result &) {
                     run_result r = run_quorvel({good, f + "/l0"});
                     EXPECT_TRUE(r.status == 1 && r.err.find("ymbolic link") != std::string::npos)
                         << r.err; // as the tool's C library words ELOOP
                 }};
         }},
        {"a PO path through a link in the root, as /bin where /usr is merged",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             odd_run run{{good, "/bin/../.." + f + "/out.po"}, {}, 0, f + "/out.po", catalogue};
             // qemu-user's -L lays a folder over the root, which "/" names.
             run.here = std::filesystem::is_symlink("/bin") &&
                        std::filesystem::canonical("/bin") == "/usr/bin" && !wrapped("qemu");
             return run;
         }},
        {"a doubled slash in the PO path, and a new PO file right under the root",
         [&](const std::string &f) {
             std::string top = "/quorvel-test-" + std::to_string(getpid()) + ".po";
             write_file(f + "/out.po", old);
             return odd_run{{good, f + "//out.po"}, {}, 0, f + "/out.po", catalogue, [=](auto &) {
                                if (root && !wrapped("qemu")) {
                                    EXPECT_EQ(run_quorvel({good, top}).status, 0);
                                    EXPECT_EQ(read_file(top), catalogue);
                                }
                                // Doubled after the first folder under the root.
                                std::string doubled = f + "/out.po";
                                doubled.insert(doubled.find('/', 1), "/");
                                write_file(f + "/out.po", old);
                                EXPECT_EQ(run_quorvel({good, doubled}).status, 0);
                                EXPECT_EQ(read_file(f + "/out.po"), catalogue);
                                std::remove(top.c_str());
                            }};
         }},
        {"a PO name that leaves no room for a temporary name's additions",
         [&](const std::string &f) {
             std::string out = f + "/" + std::string(250, 'n') + ".po";
             write_file(out, old);
             return odd_run{{bad, out}, {}, 1, out, old, [=](const run_result &) {
                                EXPECT_EQ(run_quorvel({good, out}).status, 0);
                                EXPECT_EQ(read_file(out), catalogue);
                            }};
         }},
        {"a link that resolves past PATH_MAX",
         [&](const std::string &f) {
             int at = open(f.c_str(), O_DIRECTORY);
             std::string first = long_path(at, 'd');
             deep = openat(at, first.c_str(), O_DIRECTORY);
             close(at);
             std::string second = long_path(deep, 'e');
             deep_po = second + "/real.po";
             int fd = openat(deep, deep_po.c_str(), O_WRONLY | O_CREAT, 0644);
             EXPECT_EQ(write(fd, old, std::strlen(old)), static_cast<ssize_t>(std::strlen(old)));
             close(fd);
             EXPECT_EQ(symlinkat(deep_po.c_str(), deep, "link.po"), 0);
             EXPECT_EQ(symlink((first + "/link.po").c_str(), (f + "/out.po").c_str()), 0);
             return odd_run{{bad, f + "/out.po"}, {}, 1, f + "/out.po", old};
         }},
        {"a strings file that another takes the name of once it is open",
         [&](const std::string &f) {
             write_file(f + "/in.strings", utf16("\"a\" = \"b\";\n"));
             write_file(f + "/other.strings", "\"x\" = \"y\";\n");
             run_options o =
                 on_path(stand_in("mv '" + f + "/other.strings' '" + f + "/in.strings'; exec " +
                                  find_program("iconv") + " \"$@\"\n"));
             return odd_run{{f + "/in.strings", f + "/out.po"}, o, 0, f + "/out.po", catalogue};
         }},
        {"a link that names no file yet",
         [&](const std::string &f) {
             EXPECT_EQ(symlink("real.po", (f + "/out.po").c_str()), 0);
             return odd_run{
                 {bad, f + "/out.po"}, {}, 1, f + "/real.po", nullptr, [=](const run_result &) {
                     EXPECT_EQ(run_quorvel({good, f + "/out.po"}).status, 0);
                     EXPECT_EQ(read_file(f + "/real.po"), catalogue);
                     struct stat st;
                     EXPECT_TRUE(lstat((f + "/out.po").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
                 }};
         }},
        {"a file-size limit",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             run_options o;
             o.prefix = {"sh", "-c", "ulimit -f 1; exec \"$@\"", "sh"};
             std::string in = strings(entries_text(100), "many.strings");
             return odd_run{
                 {in, f + "/out.po"}, o, 1, f + "/out.po", old, [=](const run_result &r) {
                     EXPECT_EQ(r.err, f + "/out.po: File too large\n");
                 }};
         }},
        {"SIGTERM while the tool waits for the converter to end",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             std::string ended = f + "/ended";
             run_options o = on_path(stand_in(find_program("iconv") + " \"$@\"; exec >&-; : >'" +
                                              ended + "'; exec sleep 30\n"));
             o.meanwhile = [=](pid_t tool) {
                 await_file(ended, 200);
                 kill(tool, SIGTERM);
             };
             return odd_run{{good, f + "/out.po"}, o, -SIGTERM, f + "/out.po", old};
         }},
        {"SIGTERM once the PO file is in place",
         [&](const std::string &f) {
             // valgrind holds a signal back while the tool waits in a write.
             if (wrapped("valgrind")) {
                 odd_run none{};
                 none.here = false;
                 return none;
             }
             // Standard output a full pipe: the summary waits.
             static int full[2];
             EXPECT_EQ(pipe(full), 0);
             fcntl(full[1], F_SETFL, O_NONBLOCK);
             while (write(full[1], "x", 1) == 1)
                 ;
             fcntl(full[1], F_SETFL, 0);
             std::string out = f + "/out.po";
             write_file(out, old);
             run_options o;
             o.stdout_fd = full[1];
             o.meanwhile = [out, catalogue](pid_t tool) {
                 for (int i = 0; i < 1000 && read_file(out) != catalogue; i++)
                     usleep(10000);
                 usleep(200000);
                 kill(tool, SIGTERM);
                 close(full[0]);
                 close(full[1]);
             };
             return odd_run{{good, out}, o, 0, out, catalogue};
         }},
        {"a PO file with a second name",
         [&](const std::string &f) {
             return odd_run{
                 {bad, linked(f)}, {}, 1, f + "/second.po", old, [=](const run_result &) {
                     EXPECT_EQ(run_quorvel({good, f + "/out.po"}).status, 0);
                     EXPECT_EQ(read_file(f + "/second.po"), catalogue);
                     EXPECT_EQ(run_quorvel({many, f + "/out.po"}).status +
                                   run_quorvel({many, f + "/new.po"}).status,
                               0);
                     EXPECT_EQ(read_file(f + "/second.po"), read_file(f + "/new.po"));
                 }};
         }},
        {"a PO file in a folder that its user may not write",
         [&](const std::string &f) {
             std::string out = locked(f);
             return odd_run{{bad, out}, as_nobody(), 1, out, old, [=](const run_result &) {
                                run_options o = as_nobody();
                                o.env = {"TMPDIR"};
                                EXPECT_EQ(run_quorvel({good, out}, o).status, 0);
                                EXPECT_EQ(read_file(out), catalogue);
                                o.env = {"TMPDIR=/nonexistent/tmp"};
                                // valgrind keeps files of its own there.
                                if (!wrapped("valgrind")) {
                                    EXPECT_EQ(run_quorvel({good, out}, o).err,
                                              "/nonexistent/tmp: No such file or directory\n");
                                }
                            }};
         }},
        {"another user's PO file, open to all, in a sticky folder",
         [&](const std::string &f) {
             std::string out = f + "/sticky/out.po";
             mkdir((f + "/sticky").c_str(), 0755);
             chmod((f + "/sticky").c_str(), 01777);
             write_file(out, old, 0666);
             return odd_run{{good, out}, as_nobody(), 0, out, catalogue, [=](const run_result &) {
                                struct stat st;
                                EXPECT_TRUE(stat(out.c_str(), &st) == 0 && st.st_uid == geteuid());
                            }};
         }},
        {"a PO file with extended attributes and an ACL",
         [&](const std::string &f) {
             std::string out = f + "/out.po";
             write_file(out, old);
             std::string acl;
             if (setxattr(out.c_str(), "user.origin", "kept", 4, 0) == 0 &&
                 std::system(("setfacl -m u:nobody:rw '" + out + "' 2>/dev/null").c_str()) == 0)
                 acl = read_attribute(out, "system.posix_acl_access");
             return odd_run{{good, out}, {}, 0, out, catalogue, [=](const run_result &) {
                                if (acl.empty())
                                    return; // no user attributes, or no setfacl, here
                                EXPECT_EQ(read_attribute(out, "user.origin"), "kept");
                                EXPECT_EQ(read_attribute(out, "system.posix_acl_access"), acl);
                            }};
         }},
        {"a new PO file in a folder with a default ACL",
         [&](const std::string &f) {
             std::string folder = f + "/acl", probe = folder + "/probe";
             mkdir(folder.c_str(), 0755);
             EXPECT_NE(std::system(("setfacl -d -m u::rw,g::rw,o::r,u:nobody:rw '" + folder +
                                    "' 2>/dev/null")
                                       .c_str()),
                       -1);
             // What a plain open gives a new file there.
             struct stat st = {};
             close(open(probe.c_str(), O_WRONLY | O_CREAT, 0666));
             stat(probe.c_str(), &st);
             unlink(probe.c_str());
             std::string out = folder + "/out.po";
             return odd_run{{good, out}, {}, 0, out, catalogue, [=](const run_result &) {
                                struct stat now;
                                EXPECT_EQ(stat(out.c_str(), &now), 0);
                                EXPECT_EQ(now.st_mode, st.st_mode);
                                // An old file without an ACL gets none from the folder.
                                if (std::system(("setfacl -b '" + out + "' 2>/dev/null").c_str()) ==
                                    0) {
                                    EXPECT_EQ(run_quorvel({good, out}).status, 0);
                                    EXPECT_EQ(read_attribute(out, "system.posix_acl_access"), "");
                                }
                            }};
         }},
        {"standard error writing to the PO file",
         [&](const std::string &f) {
             std::string out = f + "/out.po";
             run_options o;
             o.prefix = {"sh", "-c", "exec \"$@\" >\"$0\" 2>&1", out};
             std::string in = strings("\"a\" = \"b\";\nKey = \"v\";\n", "unquoted.strings");
             return odd_run{{in, out}, o, 0, out, catalogue};
         }},
        {"a conversion that fails in the middle of a line",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             run_options o = on_path(stand_in("printf '\"a\" = \"b\";\\n\"c\" = \"d'; exit 3\n"));
             return odd_run{
                 {good, f + "/out.po"}, o, 1, f + "/out.po", old, [=](const run_result &r) {
                     EXPECT_EQ(r.err, good + ": conversion failed: iconv exited with status 3 "
                                             "(read as UTF-16: a UTF-16 byte-order mark)\n");
                 }};
         }},
        {"a link of another user's in a sticky folder",
         [&](const std::string &f) {
             write_file(f + "/victim", old);
             EXPECT_EQ(symlink((f + "/victim").c_str(), (f + "/tmp/out.po").c_str()), 0);
             EXPECT_EQ(lchown((f + "/tmp/out.po").c_str(), 65534, 65534) == 0, root);
             return odd_run{{good, f + "/tmp/out.po"}, {}, 1, f + "/victim", old, nullptr, root};
         }},
        {"another user's file in a sticky folder, to root",
         [&](const std::string &f) {
             write_file(f + "/tmp/out.po", old);
             EXPECT_EQ(chown((f + "/tmp/out.po").c_str(), 65534, 65534) == 0, root);
             return odd_run{
                 {good, f + "/tmp/out.po"}, {}, 1, f + "/tmp/out.po", old, nullptr, root};
         }},
        {"a PO file swapped for a link meanwhile, in a folder locked meanwhile",
         [&](const std::string &f) {
             std::string mine = f + "/mine";
             mkdir(mine.c_str(), 0755);
             write_file(mine + "/out.po", old);
             write_file(f + "/other", old, 0666);
             for (auto path : {mine, mine + "/out.po"})
                 EXPECT_EQ(chown(path.c_str(), 65534, 65534) == 0, root);
             run_options o = swapped(mine, "ln -s ../other out.po; chmod 555 .");
             o.unprivileged = true;
             return odd_run{{good, mine + "/out.po"}, o, 1, f + "/other", old};
         }},
        {"SIGTERM during the copy over a PO file with a second name",
         [&](const std::string &f) {
             run_options o = injected("pwrite64", "signal=TERM");
             return odd_run{{good, linked(f)}, o, 0, f + "/second.po", catalogue, nullptr, traced};
         }},
        {"a copy that fails at its end, with a signal pending",
         [&](const std::string &f) {
             run_options o = injected("ftruncate", "error=EFBIG:signal=TERM");
             odd_run run{
                 {good, linked(f)}, o, 1, f + "/second.po", "msgid \"a\"\nmsgstr \"b\"\nlt\"\n"};
             run.here = traced;
             run.err = f + "/out.po: File too large: the file may be cut short\n";
             return run;
         }},
        {"another user's file in a folder open to all but not sticky, to root",
         [&](const std::string &f) {
             chmod(f.c_str(), 0777);
             write_file(f + "/out.po", old);
             EXPECT_EQ(chown((f + "/out.po").c_str(), 65534, 65534) == 0, root);
             return odd_run{{good, f + "/out.po"}, {}, 0, f + "/out.po", catalogue, nullptr, root};
         }},
        {"standard output and the PO file on two file systems, with the same inode number",
         [&](const std::string &f) {
             for (const char *m : {"/a", "/b"}) {
                 mkdir((f + m).c_str(), 0755);
                 mounts.push_back(f + m);
                 EXPECT_EQ(mount("quorvel", mounts.back().c_str(), "tmpfs", 0, "mode=755") == 0,
                           root);
             }
             write_file(f + "/b/out.po", old);
             odd_run run{{good, f + "/b/out.po"},
                         stdout_to(f + "/a/out.txt"),
                         0,
                         f + "/b/out.po",
                         catalogue,
                         [=](const run_result &) {
                             EXPECT_EQ(read_file(f + "/a/out.txt"), f + "/b/out.po: 1 messages.\n");
                         }};
             run.here = root;
             return run;
         }},
        {"the PO name swapped meanwhile for a link to a file its user may not open",
         [&](const std::string &f) {
             std::string mine = f + "/mine";
             mkdir(mine.c_str(), 0755);
             write_file(mine + "/out.po", old);
             write_file(f + "/secret", old, 0600);
             for (auto path : {mine, mine + "/out.po"})
                 EXPECT_EQ(chown(path.c_str(), 65534, 65534) == 0, root);
             odd_run run = swapped_at_open(f, mine, [=](const char *out) {
                 EXPECT_EQ(symlink((f + "/secret").c_str(), out), 0);
             });
             run.where = f + "/secret", run.bytes = old, run.here = traced && root;
             return run;
         }},
        {"a PO file that is a mount point",
         [&](const std::string &f) {
             write_file(f + "/out.po", old);
             write_file(f + "/mounted.po", old);
             mounts.push_back(f + "/out.po");
             bool here = mount((f + "/mounted.po").c_str(), mounts.back().c_str(), nullptr, MS_BIND,
                               nullptr) == 0;
             return odd_run{
                 {good, f + "/out.po"}, {}, 0, f + "/mounted.po", catalogue, nullptr, here};
         }},
        {"a file system without locks under a copy",
         [&](const std::string &f) {
             linked(f);
             return odd_run{{good, "out.po"},
                            on_name(f, f + "/out.po", "fcntl:error=ENOLCK:when=3"),
                            0,
                            f + "/second.po",
                            catalogue,
                            nullptr,
                            traced};
         }},
        {"a copy past the copy's buffer whose second write fails",
         [&](const std::string &f) {
             static std::string first;
             for (int i = 0; first.size() < (1 << 16); i++)
                 first += "msgid \"key" + std::to_string(i) + "\"\nmsgstr \"value " +
                          std::to_string(i) + "\"\n";
             first.resize(1 << 16);
             odd_run run{{many, linked(f)},
                         injected("pwrite64", "error=EIO:when=2"),
                         1,
                         f + "/second.po",
                         first.c_str(),
                         nullptr,
                         traced};
             // The reason as the tool's C library words it.
             run.also = [=](const run_result &r) {
                 EXPECT_EQ(r.err.rfind(f + "/out.po: ", 0), 0u);
                 EXPECT_NE(r.err.find(": the file may be cut short\n"), std::string::npos);
                 EXPECT_FALSE(unchanged_since(f + "/out.po"));
             };
             return run;
         }},
        {"a PO file with a second name where there is no room for the copy",
         [&](const std::string &f) {
             mkdir((f + "/small").c_str(), 0755);
             mounts.push_back(f + "/small");
             bool here =
                 mount("quorvel", mounts.back().c_str(), "tmpfs", 0, "size=256k,mode=755") == 0;
             odd_run run{{many, linked(f + "/small")}, {}, 1, f + "/small/out.po", old};
             run.here = here;
             run.err = f + "/small/out.po: No space left on device\n";
             return run;
         }},
        {"two runs that copy over one PO file at once",
         [&](const std::string &f) {
             std::string out = linked(f);
             run_options o = injected("pwrite64", "delay_exit=500000:when=1");
             o.meanwhile = [=](pid_t) {
                 for (int i = 0; i < 5000 && read_file(out) == old; i++)
                     usleep(1000);
                 run_result second = run_quorvel({good, out});
                 EXPECT_EQ(second.status, 0);
                 EXPECT_EQ(second.err, out + ": waiting for another run to finish writing it\n");
             };
             return odd_run{{many, out}, o, 0, f + "/second.po", catalogue, nullptr, traced};
         }},
        {"standard error appending to the PO file of a failed run",
         [&](const std::string &f) {
             run_options o;
             o.prefix = {"sh", "-c", "exec \"$@\" 2>>\"$0\"", linked(f)};
             return odd_run{{bad, f + "/out.po"}, o, 1, f + "/out.po", old};
         }},
        {"a FIFO for the PO file, with a reader",
         [&](const std::string &f) { return fifo(f, "timeout 10 cat \"$0\"", good, catalogue); }},
        {"a FIFO for the PO file, whose reader comes a second later",
         [&](const std::string &f) {
             odd_run run = fifo(f, "sleep 1; exec timeout 10 cat \"$0\"", good, catalogue);
             run.err = f + "/out.po: waiting for a reader of the FIFO\n";
             return run;
         }},
        {"a FIFO for the PO file, whose reader reads a catalogue larger than a pipe a second later",
         [&](const std::string &f) {
             static std::string large;
             for (int i = large.empty() ? 0 : 5000; i < 5000; i++)
                 large += "msgid \"key" + std::to_string(i) + "\"\nmsgstr \"value " +
                          std::to_string(i) + "\"\n";
             return fifo(f, "exec <\"$0\"; sleep 1; exec timeout 10 cat", many, large.c_str());
         }},
        {"the converter's own pipe named as the PO file",
         [&](const std::string &f) {
             // With no other descriptor open, the strings file is 3, the pipe 4.
             run_options o;
             o.prefix = {"sh", "-c", "exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-; exec \"$@\"", "sh"};
             odd_run run{{good, "/dev/fd/4"}, o, 1, f + "/none", nullptr};
             run.err = "/dev/fd/4: the converter's own pipe; not written\n";
             run.here = !wrapped();
             return run;
         }},
        {"/dev/stdout and standard error into a pipe, with a line passed over",
         [&](const std::string &f) {
             run_options o;
             o.prefix = {"sh", "-c", "\"$@\" 2>&1 | cat >\"$0\"", f + "/out.po"};
             std::string in = strings("\"a\" = \"b\";\nKey = \"v\";\n", "k.strings");
             return odd_run{{in, "/dev/stdout"}, o, 0, f + "/out.po", catalogue};
         }},
        {"a new PO file whose path and name are as long as the system takes",
         [&](const std::string &f) {
             std::string out = f;
             while (out.size() < 3837) {
                 out += "/" + std::string(std::min<size_t>(200, 3836 - out.size()), 'l');
                 mkdir(out.c_str(), 0755);
             }
             out += "/" + std::string(255, 'm');
             return odd_run{{good, out}, {}, 0, out, catalogue};
         }},
    };
    int i = 0;
    for (auto &[what, make] : runs) {
        SCOPED_TRACE(what);
        std::string f = dir / std::to_string(i++), tmp = f + "/tmp";
        mkdir(f.c_str(), 0755);
        mkdir(tmp.c_str(), 0755);
        chmod(tmp.c_str(), 01777);
        odd_run run = make(f);
        if (!run.here || (run.options.unprivileged && !unprivileged)) {
            std::printf("skipped here (needs root, strace, unshare, setfacl or no wrapper): %s\n",
                        what);
            continue;
        }
        if (run.options.env.empty())
            run.options.env.push_back("TMPDIR=" + tmp);
        run_result r = run_quorvel(run.args, run.options);
        EXPECT_EQ(r.status, run.status) << r.err;
        if (!run.err.empty()) {
            EXPECT_EQ(r.err, run.err);
        }
        if (run.bytes != nullptr) {
            EXPECT_EQ(read_file(run.where), run.bytes);
        }
        EXPECT_EQ(exists(run.where), run.bytes != nullptr);
        if (run.also)
            run.also(r);
        std::string folder = run.where.substr(0, run.where.rfind('/'));
        EXPECT_EQ(hidden_files(folder), std::vector<std::string>{});
        EXPECT_EQ(hidden_files(tmp), std::vector<std::string>{});
        EXPECT_TRUE(none_left_running());
    }
    for (auto &m : mounts)
        umount(m.c_str());
    // What lies past PATH_MAX goes by hand: the folder's removal cannot reach it.
    if (deep != -1) {
        unlinkat(deep, deep_po.c_str(), 0);
        for (std::string p = deep_po; p.find('/') != std::string::npos;) {
            p.erase(p.rfind('/'));
            unlinkat(deep, p.c_str(), AT_REMOVEDIR);
        }
        close(deep);
    }
}

// Each system call of a run failed in turn, under strace: with no old PO
// file, with one that is replaced, and with one that has a second name and
// is copied over; with a strings file that converts and one that does not.
struct InjectedFaults : tool_test, testing::WithParamInterface<std::tuple<int, bool>> {};

// An errno value that the call could give on its own.
const char *fitting_errno(const std::string &call) {
    const std::pair<const char *, const char *> errors[] = {
        {"openat", "EACCES"},   {"newfstatat", "EACCES"},  {"readlinkat", "EACCES"},
        {"linkat", "EEXIST"},   {"mmap", "ENOMEM"},        {"brk", "ENOMEM"},
        {"mprotect", "ENOMEM"}, {"clone3", "EAGAIN"},      {"clone", "EAGAIN"},
        {"pipe2", "EMFILE"},    {"dup", "EMFILE"},         {"fcntl", "EINVAL"},
        {"wait4", "ECHILD"},    {"waitid", "ECHILD"},      {"kill", "ESRCH"},
        {"fchown", "EPERM"},    {"fchmod", "EPERM"},       {"renameat", "EPERM"},
        {"write", "ENOSPC"},    {"rt_sigaction", "EINVAL"}};
    for (auto &[name, error] : errors)
        if (call == name)
            return error;
    return "EIO";
}

TEST_P(InjectedFaults, EveryCallFailedEndsWhollyOneWayOrTheOther) {
    auto [old_po, converts] = GetParam();
    std::string strace = find_program("strace");
    if (strace.empty() || wrapped() || QUORVEL_SANITIZED)
        GTEST_SKIP() << "needs strace and the tool's own system calls, without a wrapper";
    const char *old = "msgid \"old\"\nmsgstr \"alt\"\n", *catalogue = "msgid \"a\"\nmsgstr \"b\"\n";
    std::string in = strings("\"a\" = \"b\";\n"), tmp = dir / "tmp", log = dir / "calls";
    std::string second = dir / "second.po";
    if (!converts)
        write_file(in, utf16("\"a\" = \"b\";\n") + "x");
    mkdir(tmp.c_str(), 0755);
    int stopped = 0;
    auto run = [&, old_po = old_po](const std::vector<std::string> &trace) {
        std::remove(po.c_str());
        std::remove(second.c_str());
        if (old_po > 0)
            write_file(po, old);
        if (old_po == 2) {
            EXPECT_EQ(link(po.c_str(), second.c_str()), 0);
        }
        run_options options;
        options.prefix = {strace, "-qq", "-I1"};
        options.prefix.insert(options.prefix.end(), trace.begin(), trace.end());
        options.env = {"TMPDIR=" + tmp};
        // A close that strace skips can leave a pipe open, and the run
        // waiting: it is stopped as a user would stop it, and killed where
        // it waits with every signal held, as posix_spawn may.
        options.meanwhile = [&stopped](pid_t tracer) {
            stopped = 0;
            for (int sig : {0, SIGTERM, SIGKILL}) {
                std::string id = std::to_string(tracer);
                pid_t tool =
                    std::atoi(read_file("/proc/" + id + "/task/" + id + "/children").c_str());
                if (sig != 0 && tool > 0) {
                    kill(tool, sig);
                    stopped = sig;
                }
                siginfo_t info = {};
                for (int i = 0; i < 200; i++) {
                    if (waitid(P_PID, static_cast<id_t>(tracer), &info,
                               WEXITED | WNOHANG | WNOWAIT) == 0 &&
                        info.si_pid == tracer)
                        return;
                    usleep(10000);
                }
            }
        };
        return run_quorvel({in, po}, options);
    };

    // The calls of a run that nothing disturbs, counted by name.
    run_result clean = run({"-o", log});
    ASSERT_EQ(clean.status, converts ? 0 : 1) << clean.err;
    std::vector<std::pair<std::string, int>> calls;
    std::istringstream lines(read_file(log));
    for (std::string line; std::getline(lines, line);) {
        size_t paren = line.find('(');
        std::string name = line.substr(0, paren);
        if (paren == std::string::npos || name == "execve" || name == "exit_group" ||
            name.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_") != std::string::npos)
            continue;
        auto seen =
            std::find_if(calls.begin(), calls.end(), [&](auto &c) { return c.first == name; });
        if (seen == calls.end())
            calls.emplace_back(name, 1);
        else
            seen->second++;
    }
    ASSERT_FALSE(calls.empty());

    for (auto &[name, count] : calls) {
        for (int when = 1; when <= count; when++) {
            std::string inject =
                name + ":error=" + fitting_errno(name) + ":when=" + std::to_string(when);
            SCOPED_TRACE(inject);
            run_result r =
                run({"-o", "/dev/null", "-e", "trace=" + name, "-e", "inject=" + inject});
            if (stopped == SIGKILL) {
                EXPECT_EQ(name, "close") << "only SIGKILL ended the run";
            }
            std::string now = stopped == SIGKILL ? "" : read_file(po);
            bool whole_new = now == catalogue && exists(po);
            bool as_before = old_po > 0 ? exists(po) && now == old : !exists(po);
            // Both names hold the same, or, where the folder could not be
            // looked at, the name alone was replaced.
            if (old_po == 2 && stopped != SIGKILL) {
                EXPECT_TRUE(read_file(second) == now || read_file(second) == old);
            }
            // Nothing can be asked of a killed run.
            if (stopped != SIGKILL && r.status == 0) {
                EXPECT_TRUE(converts && whole_new) << r.err;
            } else if (stopped != SIGKILL) {
                // Or only the summary failed, or the final copy over the
                // file failed and says so.
                EXPECT_TRUE(
                    as_before ||
                    (converts && whole_new && r.err.find("stdout: ") != std::string::npos) ||
                    r.err.find(": the file may be cut short\n") != std::string::npos)
                    << r.status << " " << r.err;
            }
            // A failed unlink may leave its file: strace's limit, not the tool's.
            if (name.rfind("unlink", 0) != 0 && stopped != SIGKILL) {
                EXPECT_EQ(hidden_files(dir.path), std::vector<std::string>{});
                EXPECT_EQ(hidden_files(tmp), std::vector<std::string>{});
            }
            for (auto &names : {hidden_files(dir.path), hidden_files(tmp)})
                for (auto &left : names)
                    std::remove((dir / left).c_str()), std::remove((tmp + "/" + left).c_str());
            EXPECT_TRUE(none_left_running());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OldPoAndConversion, InjectedFaults,
                         testing::Combine(testing::Values(0, 1, 2), testing::Bool()));

} // namespace
