// quorvel: converts a strings file into a gettext PO catalogue.
//
// The system's iconv turns the strings file, UTF-16 or UTF-8, into UTF-8
// text; every line of it that holds a "key" = "value" pair becomes a msgid
// and a msgstr line of the PO file, in the order of the strings file.
#include "converter.h"
#include "diagnostics.h"
#include "interrupt.h"
#include "po_output.h"
#include "po_writer.h"
#include "strings_reader.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Stream buffers larger than the system's page-sized default, so that a large
// file costs fewer reads from the converter and fewer writes of the PO file.
char strings_buffer[1 << 16], po_buffer[1 << 16];

// Opens any of the standard descriptors that is closed on /dev/null, so that
// neither the converter's pipe nor the PO file can take its number.
bool open_standard_descriptors() {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int null = open("/dev/null", O_RDWR);
        if (null == -1 || (null != fd && (dup2(null, fd) == -1 || close(null) == -1)))
            return false;
    }
    return true;
}

// Tells whether two descriptors, or a file and a path, name the same file.
bool same_file(int fd, int other) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && fstat(other, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}
bool same_file(const struct stat &in, const char *path) {
    struct stat out;
    return S_ISREG(in.st_mode) && stat(path, &out) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

// Reports a failure in the perror form; returns the exit status.
int fail(const char *path, int err) {
    errno = err;
    std::perror(path);
    return 1;
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

// Where the summary goes: standard output, unless that is the PO file, whose
// catalogue it would overwrite; then standard error, unless that is too.
FILE *summary_stream(FILE *po) {
    if (!same_file(fileno(po), STDOUT_FILENO))
        return stdout;
    return same_file(fileno(po), STDERR_FILENO) ? nullptr : stderr;
}

} // namespace

int main(int argc, char *argv[]) {
    if (!open_standard_descriptors())
        return 1;
    if (argc != 3) {
        std::puts("Usage: quorvel filename.strings filename.po");
        return 1;
    }
    const char *strings_path = argv[1];
    const char *po_path = argv[2];

    // The strings file is opened before the PO file is touched, so that one
    // that cannot be read leaves it as it was.
    strings_source source;
    if (int err = source.open(strings_path))
        return fail(strings_path, err);
    if (same_file(source.status(), po_path)) {
        std::fprintf(stderr, "%s: is the strings file itself; not overwritten\n", po_path);
        return 1;
    }

    catch_interrupts();
    converter strings;
    if (int err = strings.start(strings_path, source))
        return fail("iconv", err);
    po_output po;
    if (int err = po.open(po_path))
        return fail(po_path, err);
    std::setvbuf(strings.stream(), strings_buffer, _IOFBF, sizeof strings_buffer);
    std::setvbuf(po.stream(), po_buffer, _IOFBF, sizeof po_buffer);

    char buffer[8192];
    char *id, *str;
    long long count = 0;
    diagnostics passed_over(strings_path, sizeof buffer - 1);
    strings_position position = passed_over.position();
    while (read_strings(strings.stream(), buffer, sizeof buffer, &id, &str, &position)) {
        write_po(po.stream(), "msgid", id);
        write_po(po.stream(), "msgstr", str);
        if (std::ferror(po.stream()))
            break;
        count++;
    }
    int read_error = std::ferror(strings.stream()) ? errno : 0;
    int write_error = std::ferror(po.stream()) ? errno : 0;
    passed_over.finish();
    FILE *summary = summary_stream(po.stream());

    // The PO file takes the new catalogue only after all of it went well.
    int status = strings.finish();
    if (write_error != 0)
        return fail(po_path, write_error);
    if (read_error != 0)
        return fail(strings_path, read_error);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        conversion_failed(strings_path, status);
        return 1;
    }
    if (int err = po.commit())
        return fail(po_path, err);
    if (summary != nullptr && (std::fprintf(summary, "%s: %lld messages.\n", po_path, count) < 0 ||
                               std::fflush(summary) == EOF))
        return fail(summary == stdout ? "stdout" : "stderr", errno);
    return 0;
}
