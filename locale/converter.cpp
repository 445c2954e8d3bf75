// The converter: the system's iconv utility as a child process.
#include "converter.h"

#include "interrupt.h"
#include "message.h"
#include "po_writer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// Where the strings file's first bytes are looked at.
char buffer[1 << 16];

} // namespace

int strings_source::open(const char *path) {
    close();
    // O_NOCTTY: a terminal named as the strings file must not become the
    // tool's controlling terminal. Not closed on exec: the converter reads
    // the file through this descriptor.
    do
        fd_ = ::open(path, O_RDONLY | O_NOCTTY);
    while (fd_ == -1 && errno == EINTR);
    if (fd_ == -1)
        return errno;
    if (fstat(fd_, &st_) == -1 || S_ISDIR(st_.st_mode)) {
        int err = S_ISDIR(st_.st_mode) ? EISDIR : errno;
        close();
        return err;
    }
    // Only a regular file is read ahead: a pipe's bytes would be gone.
    char *head = buffer;
    ssize_t got = 0;
    if (regular()) {
        text_kind kind;
        if ((got = read_head(fd_, head, kind)) == -1) {
            int err = errno;
            close();
            return err;
        }
        encoding_ =
            source_encoding(reinterpret_cast<unsigned char *>(head), static_cast<size_t>(got));
        po_ = kind == text_kind::po;
    }
    return 0;
}

const char *strings_source::read_as() const {
    if (!regular())
        return "read as UTF-16: not a regular file";
    static const char *const told[][2] = {
        {"utf-32", "read as UTF-32: a UTF-32 byte-order mark"},
        {"utf-16", "read as UTF-16: a UTF-16 byte-order mark"},
        {"utf-16be", "read as UTF-16 big-endian: no byte-order mark, and a zero byte first"},
        {"utf-16le", "read as UTF-16 little-endian: no byte-order mark, and a zero byte second"},
    };
    for (auto &[name, text] : told)
        if (std::strcmp(name, encoding_) == 0)
            return text;
    return "read as UTF-8: no UTF-16 byte-order mark";
}

void strings_source::close() {
    if (fd_ != -1)
        ::close(fd_);
    fd_ = -1;
}

const char *strings_source::name_for_converter(const char *path, const decimal &fd_name) const {
    // The file that was opened and sniffed, even if another has taken its
    // name since, wherever /dev/fd names it.
    struct stat st;
    if (stat(fd_name.str(), &st) == 0 && st.st_dev == st_.st_dev && st.st_ino == st_.st_ino)
        return fd_name.str();
    return path;
}

int converter::start(const char *path, const strings_source &source, bool quiet) {
    // Without a path, iconv reads its standard input.
    decimal fd_name(source.fd(), "/dev/fd/");
    const char *name = source.regular() ? source.name_for_converter(path, fd_name) : nullptr;
    // A path that begins with a dash would be read as an option.
    std::unique_ptr<char, decltype(&std::free)> dotted(nullptr, &std::free);
    if (name != nullptr && name[0] == '-') {
        size_t size = std::strlen(name) + 1;
        dotted.reset(static_cast<char *>(std::malloc(size + 2)));
        if (!dotted)
            return ENOMEM;
        std::memcpy(dotted.get(), "./", 2);
        std::memcpy(dotted.get() + 2, name, size);
        name = dotted.get();
    }
    // posix_spawnp takes the strings as not const, but does not change them.
    const char *argv[] = {"iconv", "-f", source.encoding(), "-t", "utf-8", name, nullptr};

    int pipe_fds[2];
    if (pipe(pipe_fds) == -1)
        return errno;
    int read_fd = pipe_fds[0], write_fd = pipe_fds[1];
    fcntl(read_fd, F_SETFD, FD_CLOEXEC);

    // Held until the child is on record, so that an interrupt stops it too.
    interrupts_held held;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int err = posix_spawn_file_actions_init(&actions);
    if (err == 0) {
        err = posix_spawnattr_init(&attributes);
        if (err != 0)
            posix_spawn_file_actions_destroy(&actions);
    }
    if (err == 0) {
        err = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        if (err == 0)
            err = posix_spawnattr_setsigmask(&attributes, &caller_signal_mask());
        if (err == 0)
            err = posix_spawnattr_setsigdefault(&attributes, &signals_to_restore());
        if (err == 0 && quiet)
            err =
                posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (err == 0 && !source.regular())
            err = posix_spawn_file_actions_adddup2(&actions, source.fd(), STDIN_FILENO);
        if (err == 0 && write_fd != STDOUT_FILENO) {
            err = posix_spawn_file_actions_adddup2(&actions, write_fd, STDOUT_FILENO);
            if (err == 0)
                err = posix_spawn_file_actions_addclose(&actions, write_fd);
        }
        if (err == 0)
            err = posix_spawnp(&pid_, argv[0], &actions, &attributes,
                               const_cast<char *const *>(argv), environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    close(write_fd);
    if (err != 0) {
        close(read_fd);
        pid_ = -1;
        return err;
    }
    on_interrupt_stop(pid_);
    stream_ = fdopen(read_fd, "r");
    if (stream_ == nullptr) {
        err = errno;
        close(read_fd);
        finish();
        return err;
    }
    // The reader takes the text in blocks of its own.
    std::setvbuf(stream_, nullptr, _IONBF, 0);
    return 0;
}

int converter::finish() {
    bool read_to_end = stream_ != nullptr && std::feof(stream_);
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (pid_ == -1)
        return -1;
    if (!read_to_end)
        kill(pid_, SIGKILL);
    // Waited for without reaping it first, so that an interrupt meanwhile
    // still stops it: until it is reaped, its number cannot pass to another
    // process.
    siginfo_t info;
    while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) == -1 && errno == EINTR)
        ;
    int status;
    pid_t waited;
    {
        interrupts_held held;
        on_interrupt_stop(-1);
        while ((waited = waitpid(pid_, &status, 0)) == -1 && errno == EINTR)
            ;
    }
    pid_ = -1;
    return waited == -1 ? -1 : status;
}

const char *source_encoding(const unsigned char *head, size_t count) {
    // Too short to hold a UTF-16 character: UTF-8, or empty.
    if (count < 2)
        return "utf-8";
    // A UTF-32 byte-order mark, which iconv reads and drops; the
    // little-endian one begins as UTF-16's does.
    if (count >= 4 &&
        (std::memcmp(head, "\xFF\xFE\0\0", 4) == 0 || std::memcmp(head, "\0\0\xFE\xFF", 4) == 0))
        return "utf-32";
    // A UTF-16 byte-order mark, which iconv reads and drops.
    if ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))
        return "utf-16";
    // Without a mark, the zero half of an ASCII character tells the order.
    if (head[0] == 0 && head[1] != 0)
        return "utf-16be";
    if (head[0] != 0 && head[1] == 0)
        return "utf-16le";
    // UTF-8, with or without its mark, which the scanner passes over.
    return "utf-8";
}
