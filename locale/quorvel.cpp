// quorvel: converts a strings file into a gettext PO catalogue.
//
// The system's iconv turns the strings file, UTF-16 or UTF-8, into UTF-8
// text; every line of it that holds a "key" = "value" pair becomes a msgid
// and a msgstr line of the PO file, in the order of the strings file.
#include "converter.h"
#include "po_writer.h"
#include "strings_reader.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using file = std::unique_ptr<FILE, decltype(&std::fclose)>;

// Stream buffers larger than the system's page-sized default, so that a large
// file costs fewer reads from the converter and fewer writes of the PO file.
char strings_buffer[1 << 16], po_buffer[1 << 16];

// Tells whether the PO path names the strings file itself, which writing
// the PO file would destroy.
bool same_file(const char *strings_path, const char *po_path) {
    struct stat in, out;
    return stat(strings_path, &in) == 0 && S_ISREG(in.st_mode) && stat(po_path, &out) == 0 &&
           in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// Reports a converter that did not end with status 0.
void conversion_failed(const char *strings_path, int status) {
    if (status != -1 && WIFSIGNALED(status))
        std::fprintf(stderr, "%s: conversion failed: iconv killed by signal %d\n", strings_path,
                     WTERMSIG(status));
    else if (status != -1 && WIFEXITED(status))
        std::fprintf(stderr, "%s: conversion failed: iconv exited with status %d\n", strings_path,
                     WEXITSTATUS(status));
    else
        std::fprintf(stderr, "%s: conversion failed\n", strings_path);
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 3) {
        std::puts("Usage: quorvel filename.strings filename.po");
        return 1;
    }
    const char *strings_path = argv[1];
    const char *po_path = argv[2];

    // Opening the strings file here also makes a missing or unreadable one
    // fail before the PO file is touched.
    const char *encoding = source_encoding(strings_path);
    if (encoding == nullptr) {
        std::perror(strings_path);
        return 1;
    }
    if (same_file(strings_path, po_path)) {
        std::fprintf(stderr, "%s: is the strings file itself; not overwritten\n", po_path);
        return 1;
    }

    converter strings;
    if (int err = strings.start(strings_path, encoding)) {
        errno = err;
        std::perror("iconv");
        return 1;
    }

    file po(std::fopen(po_path, "w"), &std::fclose);
    if (!po) {
        std::perror(po_path);
        return 1;
    }
    std::setvbuf(strings.stream(), strings_buffer, _IOFBF, sizeof strings_buffer);
    std::setvbuf(po.get(), po_buffer, _IOFBF, sizeof po_buffer);

    char buffer[8192];
    char *id, *str;
    long long count = 0;
    while (read_strings(strings.stream(), buffer, sizeof buffer, &id, &str)) {
        write_po(po.get(), "msgid", id);
        write_po(po.get(), "msgstr", str);
        if (std::ferror(po.get()))
            break;
        count++;
    }
    int read_error = std::ferror(strings.stream()) ? errno : 0;
    int write_error = std::ferror(po.get()) ? errno : 0;

    int status = strings.finish();
    if (std::fclose(po.release()) == EOF && write_error == 0)
        write_error = errno;

    if (write_error != 0) {
        errno = write_error;
        std::perror(po_path);
        return 1;
    }
    if (read_error != 0) {
        errno = read_error;
        std::perror(strings_path);
        return 1;
    }
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        conversion_failed(strings_path, status);
        return 1;
    }
    if (std::printf("%s: %lld messages.\n", po_path, count) < 0 || std::fflush(stdout) == EOF) {
        std::perror("stdout");
        return 1;
    }
    return 0;
}
