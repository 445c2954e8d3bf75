// quorvel: converts a strings file into a gettext PO catalogue.
//
// The system's iconv turns the strings file, UTF-16 or UTF-8, into UTF-8
// text; every line of it that holds a "key" = "value" pair becomes a msgid
// and a msgstr line of the PO file, in the order of the strings file, after
// a fuzzy flag where msgfmt would refuse the pair.
#include "converter.h"
#include "diagnostics.h"
#include "interrupt.h"
#include "message.h"
#include "po_output.h"
#include "po_writer.h"
#include "strings_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether standard error writes to the PO file, which must take nothing but
// the catalogue: then the tool and its converter keep quiet.
bool quiet = false;

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

// Tells whether a path names the file that the strings file is.
bool same_file(const struct stat &in, const char *path) {
    struct stat out;
    return S_ISREG(in.st_mode) && stat(path, &out) == 0 && in.st_dev == out.st_dev &&
           in.st_ino == out.st_ino;
}

// Reports a failure in the perror form, with a note where one is given (a
// note alone where err is not an errno value), and an empty path shown as
// ''; returns the exit status.
int fail(const char *path, int err, const char *note = nullptr) {
    if (!quiet)
        put(stderr, {*path != '\0' ? path : "''", ": ", err > 0 ? std::strerror(err) : "",
                     err > 0 && note != nullptr ? ": " : "", note != nullptr ? note : "", "\n"});
    return 1;
}

// Reports a converter that did not end with status 0; one that exited so
// with what the file was read as, and why.
void conversion_failed(const char *strings_path, int status, const strings_source &source) {
    if (quiet)
        return;
    bool signaled = status != -1 && WIFSIGNALED(status);
    if (status == -1 || (!signaled && !WIFEXITED(status)))
        put(stderr, {strings_path, ": conversion failed\n"});
    else if (signaled)
        put(stderr, {strings_path, ": conversion failed: iconv killed by signal ",
                     decimal(WTERMSIG(status)).str(), "\n"});
    else
        put(stderr, {strings_path, ": conversion failed: iconv exited with status ",
                     decimal(WEXITSTATUS(status)).str(), " (", source.read_as(), ")\n"});
}

// Where the summary goes: standard output, unless that is the PO file, whose
// catalogue it would overwrite; then standard error, unless that is too.
FILE *summary_stream(const po_output &po) {
    if (!po.shares_stdout())
        return stdout;
    return po.shares_stderr() ? nullptr : stderr;
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
    struct stat error_file;
    quiet = fstat(STDERR_FILENO, &error_file) == 0 && same_file(error_file, po_path);

    // The strings file is opened before the PO file is touched, so that one
    // that cannot be read leaves it as it was.
    strings_source source;
    if (int err = source.open(strings_path))
        return fail(strings_path, err);
    if (same_file(source.status(), po_path))
        return fail(po_path, 0, "is the strings file itself; not overwritten");
    if (source.reads_as_po())
        return fail(strings_path, 0, "a PO file, not a strings file: the strings file comes first");

    catch_interrupts();
    converter strings;
    if (int err = strings.start(strings_path, source, quiet))
        return fail("iconv", err);
    // From here on, what standard error writes to is known from the file
    // that was opened, not from its path.
    po_output po;
    int err = po.open(po_path, fileno(strings.stream()));
    quiet = po.shares_stderr();
    if (err != 0)
        return fail(po.error_path(), err, po.note());

    // The text is read in blocks of 64 KiB at least, after what the block
    // before held of a line that it cut.
    char buffer[longest_line + 1 + (1 << 16)];
    char *id, *str;
    long long count = 0;
    diagnostics passed_over(strings_path, quiet);
    strings_position position = passed_over.position();
    po_stream lines(po.stream());
    while (read_strings(strings.stream(), buffer, sizeof buffer, &id, &str, &position)) {
        // A pair that msgfmt would refuse, and with it the whole catalogue.
        if (position.fuzzy != newline_mismatch::none)
            write_fuzzy(lines);
        write_po(lines, "msgid", id, static_cast<size_t>(position.ends[0] - id));
        write_po(lines, "msgstr", str, static_cast<size_t>(position.ends[1] - str));
        if (lines.failed())
            break;
        count++;
    }
    int read_error = std::ferror(strings.stream()) ? errno : 0;
    int write_error = lines.flush();

    // The PO file takes the new catalogue only after all of it went well.
    int status = strings.finish();
    bool converted = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    passed_over.finish(converted && read_error == 0, position, count, !source.regular());
    if (write_error != 0)
        return fail(po.error_path(), write_error);
    if (read_error != 0)
        return fail(strings_path, read_error);
    if (!converted) {
        conversion_failed(strings_path, status, source);
        return 1;
    }
    if ((err = po.commit()) != 0)
        return fail(po.error_path(), err, po.note());
    FILE *summary = summary_stream(po);
    if (summary != nullptr &&
        (!put(summary, {po_path, ": ", decimal(count).str(), " messages.\n"}) ||
         std::fflush(summary) == EOF))
        return fail(summary == stdout ? "stdout" : "stderr", errno);
    return 0;
}
