// Helpers for the tests that run the built tool as a user would.
#ifndef QUORVEL_TESTS_HARNESS_H
#define QUORVEL_TESTS_HARNESS_H

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/types.h>
#include <vector>

// The text in UTF-16 (UTF-32 where wide) of the given byte order, with or
// without a byte-order mark; the text is UTF-8.
std::string utf16(const std::string &text, bool little_endian = true, bool bom = true,
                  bool wide = false);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes, int mode = 0644);
bool exists(const std::string &path);
// The names of the hidden files in a folder, such as temporary PO files.
std::vector<std::string> hidden_files(const std::string &dir);

// A fresh folder that is removed with everything in it when it goes.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

// What a run of a program left: its exit status (minus the signal's number
// when killed), standard output and standard error.
struct run_result {
    int status;
    std::string out, err;
};

struct run_options {
    std::string path;                // replaces PATH when not empty
    std::vector<std::string> env;    // NAME=value instead of the tests' own; NAME: unset
    std::string stdout_path;         // where standard output goes instead of a file of the harness
    bool unprivileged = false;       // as user nobody, where the tests run as root; the
                                     // folders it uses must be open to others
    std::string cwd;                 // the working folder, when not the tests' own
    std::vector<std::string> prefix; // a command that runs the tool, such as timeout 10
    int closed_fd = -1;              // a standard descriptor the tool starts without
    int stdout_fd = -1;              // the tool's standard output instead of a file
    int stderr_fd = -1;              // the tool's standard error instead of a file
    std::function<void(pid_t)> meanwhile; // called while the tool runs
    // Seconds (ten times that under a wrapper) after which the run is
    // stopped and the test fails.
    int time_limit = 30;
};

inline run_options on_path(const std::string &path) {
    run_options options;
    options.path = path;
    return options;
}
inline run_options stdout_to(const std::string &file) {
    run_options options;
    options.stdout_path = file;
    return options;
}
inline run_options as_nobody() {
    run_options options;
    options.unprivileged = true;
    return options;
}
inline run_options in_folder(const std::string &cwd) {
    run_options options;
    options.cwd = cwd;
    return options;
}

// Runs the built tool with args, standard input empty, standard output and
// error in files, and the signals it handles at their defaults, whatever the
// tests' own caller set. QUORVEL_WRAPPER in the environment, such as a
// valgrind command or an emulator, runs it; QUORVEL_BIN names another build.
run_result run_quorvel(const std::vector<std::string> &args, const run_options &options = {});

// Whether the tool runs under a wrapper (whose name holds the given text),
// whose own system calls, files and signal handling come between it and the
// system.
bool wrapped(const char *name = "");

// Waits a while for the processes that the tests' runs left behind, such as
// a converter that outlived the tool, to end; true if none is still running.
// Not while another thread runs the tool: it reaps every child.
bool none_left_running();

// Whether run_options::unprivileged runs as a user without root's rights.
bool can_run_unprivileged();

// The absolute path of a program on the PATH, or an empty string.
std::string find_program(const std::string &name);

// A test with a fresh folder and a PO path in it.
struct tool_test : testing::Test {
    temp_dir dir;
    std::string po = dir / "out.po";

    // Writes text in UTF-16 to a strings file of the given name.
    std::string strings(const std::string &text, const std::string &name = "in.strings");
    // Puts a stand-in iconv, a shell script, in a folder of its own; returns
    // the PATH that finds it first.
    std::string stand_in(const std::string &script);
};

#endif
