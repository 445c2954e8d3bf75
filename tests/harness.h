// Helpers for the tests that run the built tool as a user would.
#ifndef QUORVEL_TESTS_HARNESS_H
#define QUORVEL_TESTS_HARNESS_H

#include <string>
#include <vector>

// The text in UTF-16 of the given byte order, with or without a byte-order
// mark; the text is UTF-8.
std::string utf16(const std::string &text, bool little_endian = true, bool bom = true);

std::string read_file(const std::string &path);
void write_file(const std::string &path, const std::string &bytes, int mode = 0644);
bool exists(const std::string &path);

// A fresh folder that is removed with everything in it when it goes.
struct temp_dir {
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

// What a run of a program left: its exit status (128 + the signal's number
// when killed), standard output and standard error.
struct run_result {
    int status;
    std::string out, err;
};

// Runs the built tool with args, standard output and error in files and
// standard input empty. A non-empty path replaces PATH; a non-empty stdout_path
// is where standard output goes instead.
run_result run_quorvel(const std::vector<std::string> &args, const std::string &path = "",
                       const std::string &stdout_path = "");

#endif
