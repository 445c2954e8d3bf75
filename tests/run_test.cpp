// The built tool, run on files in UTF-16 through the real iconv.
#include "harness.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

const char usage[] = "Usage: quorvel filename.strings filename.po\n";
// A catalogue as gettext's tools write one, with comments and a header.
const char old_po[] =
    "# German translations.\n#\nmsgid \"\"\nmsgstr \"\"\n"
    "\"Content-Type: text/plain; charset=UTF-8\\n\"\n\nmsgid \"old\"\nmsgstr \"alt\"\n";

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

TEST_F(Run, UnopenableStringsFileLeavesPoUntouched) {
    write_file(po, "old");
    std::string socket_path = dir / "socket.strings";
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    std::pair<std::string, std::string> cases[] = {
        {dir / "missing.strings", "No such file or directory"},
        {dir.path, "Is a directory"},
        {socket_path, "No such device or address"},
        {"", "No such file or directory"}};
    for (auto &[path, reason] : cases) {
        run_result r = run_quorvel({path, po});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, (path.empty() ? "''" : path) + ": " + reason + "\n");
        EXPECT_EQ(read_file(po), "old");
    }
    close(sock);
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

TEST_F(Run, FailedRunLeavesTheOldPoFile) {
    // An odd number of bytes: iconv converts the first lines, then fails.
    std::string odd = dir / "odd.strings";
    write_file(odd, utf16("\"a\" = \"b\";\n\"c\" = \"d\";\n") + "x");
    std::string in = strings("\"a\" = \"b\";\n"), latin1 = dir / "latin1.strings";
    write_file(latin1, "\"a\" = \"\xE9\";\n");
    std::string le = dir / "le.strings", be = dir / "be.strings";
    write_file(le, utf16("\"a\" = \"b\";\n", true, false) + "x");
    write_file(be, utf16("\"a\" = \"b\";\n", false, false) + "x");
    const std::string marked = " (read as UTF-16: a UTF-16 byte-order mark)\n",
                      unmarked = ": conversion failed: iconv exited with status 1 (read as UTF-16 ";
    struct {
        std::string strings, script, error;
    } cases[] = {
        {odd, "", odd + ": conversion failed: iconv exited with status 1" + marked},
        {latin1, "",
         latin1 + ": conversion failed: iconv exited with status 1 (read as UTF-8: no "
                  "UTF-16 byte-order mark)\n"},
        {in, "printf '\"a\" = \"b\";\\n'; kill -9 $$\n",
         in + ": conversion failed: iconv killed by signal 9\n"},
        {in, "printf '\"a\" = \"b\";\\n/* open\\n\"c\" = \"d'; exit 3\n",
         in + ": conversion failed: iconv exited with status 3" + marked},
        {"/dev/null", "exit 3\n",
         "/dev/null: conversion failed: iconv exited with status 3 (read as UTF-16: not a "
         "regular file)\n"},
        {le, "", le + unmarked + "little-endian: no byte-order mark, and a zero byte second)"},
        {be, "", be + unmarked + "big-endian: no byte-order mark, and a zero byte first)"}};
    for (bool old : {true, false}) {
        for (auto &c : cases) {
            SCOPED_TRACE(c.script);
            if (old)
                write_file(po, "msgid \"old\"\nmsgstr \"alt\"\n", 0640);
            run_result r = run_quorvel(
                {c.strings, po}, c.script.empty() ? run_options{} : on_path(stand_in(c.script)));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
            // What a failed conversion cut off is not named, nor a comment left open.
            EXPECT_EQ(r.err.find("passed over"), std::string::npos) << r.err;
            EXPECT_EQ(read_file(po), old ? "msgid \"old\"\nmsgstr \"alt\"\n" : "");
            EXPECT_EQ(exists(po), old);
            EXPECT_EQ(hidden_files(dir.path), std::vector<std::string>{});
        }
        std::remove(po.c_str());
    }
}

TEST_F(Run, ReplacedPoFileKeepsModeOwnerAndLinks) {
    std::string in = strings("\"a\" = \"b\";\n");
    std::string catalogue = "msgid \"a\"\nmsgstr \"b\"\n";
    struct stat st;
    // A new file gets what the umask leaves of 0666; an old one keeps its
    // mode, the set-ID bits among it, and, where the tool may give it, its
    // owner and group.
    run_options masked;
    masked.prefix = {"sh", "-c", "umask 002; exec \"$@\"", "sh"};
    ASSERT_EQ(run_quorvel({in, po}, masked).status, 0);
    ASSERT_EQ(stat(po.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    chmod(po.c_str(), 0604);
    ASSERT_EQ(run_quorvel({in, po}).status, 0);
    ASSERT_EQ(stat(po.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (geteuid() == 0) {
        // The owner's own run keeps the set-ID bits too.
        chmod(dir.path.c_str(), 01777);
        for (auto [uid, gid, mode] : {std::tuple<uid_t, gid_t, mode_t>{65534, 65534, 04755},
                                      {0, 65534, 02664},
                                      {0, 0, 04755}}) {
            ASSERT_EQ(chown(po.c_str(), uid, gid), 0);
            ASSERT_EQ(chmod(po.c_str(), mode), 0);
            ASSERT_EQ(run_quorvel({in, po}, uid != 0 ? as_nobody() : run_options{}).status, 0);
            ASSERT_EQ(stat(po.c_str(), &st), 0);
            EXPECT_EQ(st.st_uid, uid);
            EXPECT_EQ(st.st_gid, gid);
            EXPECT_EQ(st.st_mode & 07777, mode);
        }
    }

    // A link stays a link to the file that was replaced; a file with a second
    // name is written in place, so both names show the new catalogue.
    chmod(dir.path.c_str(), 0700);
    std::string real = dir / "real.po", link = dir / "link.po", second = dir / "second.po";
    write_file(real, old_po);
    ASSERT_EQ(symlink("real.po", link.c_str()), 0);
    ASSERT_EQ(run_quorvel({in, link}).status, 0);
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(real), catalogue);
    write_file(real, old_po);
    ASSERT_EQ(::link(real.c_str(), second.c_str()), 0);
    ASSERT_EQ(run_quorvel({in, real}).status, 0);
    EXPECT_EQ(read_file(second), catalogue);
    EXPECT_EQ(hidden_files(dir.path), std::vector<std::string>{});
}

TEST_F(Run, ConcurrentRunsLeaveOneRunsOutput) {
    // The first run, the smallest, opens the PO path first and writes last. A
    // run whose PO name another run took meanwhile fails, and says why.
    std::string path = stand_in("[ -z \"$QUORVEL_TEST_SLOW\" ] || sleep 1\nexec " +
                                find_program("iconv") + " \"$@\"\n");
    std::vector<std::string> expected(20);
    std::vector<std::thread> runs;
    for (int i = 0; i < 20; i++) {
        std::string text, po_text;
        for (int k = 0; k < (i + 1) * 1000; k++) {
            std::string key = std::to_string(i) + "-" + std::to_string(k);
            text += "\"" + key + "\" = \"v\";\n";
            po_text += "msgid \"" + key + "\"\nmsgstr \"v\"\n";
        }
        std::string in = strings(text, std::to_string(i) + ".strings");
        runs.emplace_back([in, path, po_text, &expected, i, this] {
            run_options options = on_path(path);
            if (i == 0)
                options.env = {"QUORVEL_TEST_SLOW=1"};
            run_result r = run_quorvel({in, po}, options);
            if (r.status != 0) {
                EXPECT_EQ(r.err, po + ": File exists: another file took its name during the run\n");
            }
            expected[static_cast<size_t>(i)] = r.status == 0 ? po_text : "(failed)";
        });
        if (i == 0)
            usleep(100000);
    }
    for (auto &run : runs)
        run.join();
    EXPECT_NE(std::find(expected.begin(), expected.end(), read_file(po)), expected.end());
    EXPECT_EQ(hidden_files(dir.path), std::vector<std::string>{});
}

TEST_F(Run, InterruptStopsTheConverterAndKeepsTheOldPo) {
    std::string fifo = dir / "fifo.strings", pid_file = dir / "iconv.pid";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    std::string path =
        stand_in("echo $$ >'" + pid_file + "'; exec " + find_program("iconv") + " \"$@\"\n");
    std::pair<int, const char *> signals[] = {{SIGINT, "INT"}, {SIGTERM, "TERM"}, {SIGHUP, "HUP"}};
    for (auto [sig, name] : signals) {
        // A signal that the caller ignores stays ignored: the run goes on.
        // (qemu-user lets such a signal interrupt the tool's read.)
        for (bool ignored : {false, true}) {
            if (ignored && wrapped("qemu"))
                continue;
            SCOPED_TRACE(std::string(name) + (ignored ? ", ignored" : ""));
            write_file(po, old_po);
            std::remove(pid_file.c_str());
            // The writer keeps the pipe open, so the converter never ends by
            // itself.
            int writer = -1;
            std::thread feed([&] {
                writer = open(fifo.c_str(), O_WRONLY);
                std::string bytes = utf16("\"a\" = \"b\";\n");
                EXPECT_EQ(write(writer, bytes.data(), bytes.size()),
                          static_cast<ssize_t>(bytes.size()));
            });
            // One case runs the real iconv, whose signal mask no shell clears.
            bool real = sig == SIGTERM && !ignored;
            run_options options = real ? run_options{} : on_path(path);
            if (ignored)
                options.prefix = {"env", std::string("--ignore-signal=") + name};
            options.meanwhile = [&, sig = sig](pid_t tool) {
                for (int i = 0;
                     i < 500 && (hidden_files(dir.path).empty() || (!real && !exists(pid_file)));
                     i++)
                    usleep(10000);
                feed.join();
                kill(tool, sig);
                usleep(100000);
                if (ignored)
                    close(writer);
            };
            run_result r = run_quorvel({fifo, po}, options);
            EXPECT_EQ(r.status, ignored ? 0 : -sig);
            EXPECT_EQ(read_file(po), ignored ? "msgid \"a\"\nmsgstr \"b\"\n" : old_po);
            EXPECT_EQ(hidden_files(dir.path), std::vector<std::string>{});
            EXPECT_TRUE(none_left_running());
            if (!ignored)
                close(writer);
        }
    }
}

TEST_F(Run, SurvivesItsCallersOddities) {
    std::string in = strings("\"a\" = \"b\";\n");
    std::string catalogue = "msgid \"a\"\nmsgstr \"b\"\n";
    // A parent that ignores SIGCHLD, which the converter's status must survive.
    run_options ignoring = {};
    ignoring.prefix = {"env", "--ignore-signal=CHLD"};
    run_result r = run_quorvel({in, po}, ignoring);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(po), catalogue);

    // A closed standard descriptor is no place for the pipe or the PO file.
    // Under a wrapper (valgrind, an emulator) the wrapper's own files take
    // the closed numbers first.
    std::pair<int, const char *> closed[] = {
        {0, "/dev/stdin"}, {1, "/dev/stdout"}, {2, "/dev/stderr"}, {1, po.c_str()}};
    for (auto [fd, path] : closed) {
        if (std::getenv("QUORVEL_WRAPPER") != nullptr)
            break;
        SCOPED_TRACE(path);
        run_options options = {};
        options.prefix = {"timeout", "20"};
        options.closed_fd = fd;
        EXPECT_EQ(run_quorvel({in, path}, options).status, 0);
    }

    // The PO file is standard output's own file: the summary goes elsewhere,
    // with the warnings.
    std::string out = dir / "out.txt",
                passed = strings("\"a\" = \"b\";\nKey = \"v\";\n", "k.strings");
    r = run_quorvel({passed, "/dev/stdout"}, stdout_to(out));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(out), catalogue);
    EXPECT_EQ(r.err, passed + ":2: key not quoted: line passed over\n/dev/stdout: 1 messages.\n");
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
    int broken[2];
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]);
    run_options closed;
    closed.stdout_fd = broken[1];
    EXPECT_EQ(run_quorvel({in, po}, closed).err, "stdout: Broken pipe\n");
    close(broken[1]);

    // A converter that has more to say, or is not done, is stopped, not
    // waited for.
    r = run_quorvel({in, "/dev/full"},
                    on_path(stand_in("yes '\"k\" = \"v\";' | head -n 10000; exec sleep 60\n")));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "/dev/full: No space left on device\n");
    EXPECT_TRUE(none_left_running());
}

TEST_F(Run, ExistingPoFileIsRewritten) {
    write_file(po, "msgid \"old\"\nmsgstr \"alt\"\n");
    std::string in = strings("/* nothing here */\n");
    run_result r = run_quorvel({in, po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, po + ": 0 messages.\n");
    EXPECT_EQ(r.err, in + ": no entries found\n");
    EXPECT_EQ(read_file(po), "");

    // An empty strings file converts to nothing as well; an XML property list
    // is named for what it is.
    write_file(in, "");
    EXPECT_EQ(run_quorvel({in, po}).out, po + ": 0 messages.\n");
    write_file(in, "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict/>\n</plist>\n");
    EXPECT_EQ(run_quorvel({in, po}).err,
              in + ": an XML property list, not read: no entries found\n");
}

TEST_F(Run, RefusesToOverwriteTheStringsFile) {
    std::string in = strings("\"a\" = \"b\";\n"), symbolic = dir / "link.po";
    std::string utf8 = dir / "utf8.strings", de = dir / "de.po";
    ASSERT_EQ(link(in.c_str(), po.c_str()), 0);
    ASSERT_EQ(symlink(in.c_str(), symbolic.c_str()), 0);
    write_file(utf8, "/* UTF-8 */\n\"x\" = \"y\";\n");
    write_file(de, old_po);
    // One whose first keyword lies past the first 512 bytes read of it.
    std::string late = dir / "late.po";
    write_file(late, "# " + std::string(507, 'c') + "\nmsgid \"old\"\nmsgstr \"alt\"\n");
    const std::string swapped = ": a PO file, not a strings file: the strings file comes first\n",
                      not_po =
                          ": not a PO file; not overwritten (is the strings file named first?)\n";
    std::pair<std::vector<std::string>, std::string> rows[] = {
        {{in, po}, po + ": is the strings file itself; not overwritten\n"},
        {{in, symbolic}, symbolic + ": is the strings file itself; not overwritten\n"},
        {{de, in}, de + swapped},
        {{de, dir / "new.strings"}, de + swapped},
        {{late, in}, late + swapped},
        {{utf8, in}, in + not_po},
        {{in, utf8}, utf8 + not_po}};
    // What a slip of tab completion may name, refused; what gettext's tools
    // write, replaced.
    std::string other = dir / "other.po";
    for (std::string text : std::vector<std::string>{
             "#!/bin/sh\n", "#include <stdio.h>\n", "# Title\n\ntext\n", "msgfmt -o de.mo de.po\n",
             std::string(600, '\n') + "int x;\n", std::string("# a comment alone\n")}) {
        write_file(other, text);
        EXPECT_EQ(run_quorvel({in, other}).err, other + not_po);
        EXPECT_EQ(read_file(other), text);
    }
    for (std::string text :
         std::vector<std::string>{"msgid\n\"\"\nmsgstr \"\"\n", "\f#, fuzzy\nmsgid\"a\"\n",
                                  "\xEF\xBB\xBF#~ msgid \"x\"\r\nmsgstr[0] \"\"\r\n"}) {
        write_file(other, text);
        EXPECT_EQ(run_quorvel({in, other}).status, 0) << text;
    }
    std::vector<std::string> before = {read_file(in), read_file(utf8), read_file(de)};
    for (auto &[args, err] : rows) {
        run_result r = run_quorvel(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, err);
        EXPECT_EQ((std::vector<std::string>{read_file(in), read_file(utf8), read_file(de)}),
                  before);
        EXPECT_FALSE(exists(dir / "new.strings"));
    }
}

TEST_F(Run, TellsEncodingsApart) {
    std::string text = "\"Größe\" = \"サイズ\";\n";
    std::string po_text = "msgid \"Größe\"\nmsgstr \"サイズ\"\n";
    std::vector<std::pair<const char *, std::string>> kinds = {
        {"UTF-16LE without mark", utf16(text, true, false)},
        {"UTF-16BE without mark", utf16(text, false, false)},
        {"UTF-32LE with mark", utf16(text, true, true, true)},
        {"UTF-32BE with mark", utf16(text, false, true, true)},
        {"UTF-8 with mark", "\xEF\xBB\xBF" + text},
        {"UTF-8 without mark", text},
        {"ASCII, two bytes", "//"},
        {"a single newline", "\n"}};
    for (auto &[kind, bytes] : kinds) {
        SCOPED_TRACE(kind);
        write_file(dir / "in.strings", bytes);
        run_result r = run_quorvel({dir / "in.strings", po});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, bytes.size() <= 2 ? dir / "in.strings: no entries found\n" : "");
        EXPECT_EQ(read_file(po), bytes.size() <= 2 ? "" : po_text);
    }

    // Text that is invalid in the encoding chosen fails as any conversion.
    for (std::string bytes : {"\"a\" = \"\xC3\";\n", "\xEF\xBB\xBF\xFF\n", "\xFF"}) {
        write_file(dir / "in.strings", bytes);
        run_result r = run_quorvel({dir / "in.strings", po});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(dir / "in.strings: conversion failed"), std::string::npos) << r.err;
    }
}

TEST_F(Run, ReadsAPipeWithoutTakingItsFirstBytes) {
    std::string fifo = dir / "fifo.strings";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // UTF-8 through a pipe is read as UTF-16 too: no entry, and the run says why.
    std::tuple<std::string, const char *, std::string> runs[] = {
        {utf16("\"a\" = \"b\";\n"), "msgid \"a\"\nmsgstr \"b\"\n", ""},
        {"\"ab\" = \"b\";\n", "", fifo + ": no entries found (a pipe is read as UTF-16)\n"}};
    for (auto &[bytes, po_text, err] : runs) {
        std::thread writer([&, &bytes = bytes] { write_file(fifo, bytes); });
        run_result r = run_quorvel({fifo, po});
        writer.join();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(po), po_text);
        EXPECT_EQ(r.err, err);
    }
}

TEST_F(Run, ConvertsTheBundledExample) {
    std::string example = QUORVEL_EXAMPLES;
    run_result r = run_quorvel({example + "/Localizable.strings", po});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(po), read_file(example + "/Localizable.po"));
    // Through the README's gettext recipe: a header, msgfmt, and Python's
    // gettext, which reads a catalogue without one as ASCII.
    std::string msgfmt = find_program("msgfmt"), python = find_program("python3");
    if (msgfmt.empty() || python.empty())
        GTEST_SKIP() << "the gettext round trip needs msgfmt and python3";
    std::string header = "msgid \"\"\nmsgstr \"\"\n\"Language: de\\n\"\n\"MIME-Version: "
                         "1.0\\n\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n"
                         "\"Content-Transfer-Encoding: 8bit\\n\"\n\n";
    auto compile = [&](const std::string &flags) {
        write_file(dir / "de.po", header + read_file(po));
        return std::system((msgfmt + flags + " -o " + dir / "de.mo " + dir / "de.po").c_str());
    };
    auto translate = [&](const std::string &key) {
        FILE *out = popen((python +
                           " -c \"import gettext,sys; sys.stdout.write(gettext."
                           "GNUTranslations(open(sys.argv[1],'rb')).gettext(sys.argv[2]))\" " +
                           dir / "de.mo '" + key + "'")
                              .c_str(),
                          "r");
        char got[64] = "";
        got[std::fread(got, 1, sizeof got - 1, out)] = '\0';
        EXPECT_EQ(pclose(out), 0);
        return std::string(got);
    };
    ASSERT_EQ(compile(""), 0);
    EXPECT_EQ(translate("Hello"), "Grüß Gott");
    // A pair that msgfmt would refuse is flagged fuzzy: the rest compiles
    // without it, unless fuzzy entries are asked for.
    write_file(dir / "fuzzy.strings", utf16("\"Done\" = \"Fertig\\n\";\n\"Open\" = \"Öffnen\";\n"));
    ASSERT_EQ(run_quorvel({dir / "fuzzy.strings", po}).status, 0);
    ASSERT_EQ(compile(""), 0);
    EXPECT_EQ(translate("Open"), "Öffnen");
    EXPECT_EQ(translate("Done"), "Done");
    EXPECT_NE(compile(" --use-fuzzy"), 0);
}

} // namespace
