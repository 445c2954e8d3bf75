// The converter: the system's iconv utility as a child process.
#include "converter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int converter::start(const char *path, const char *encoding) {
    // A path that begins with a dash would be read as an option.
    std::unique_ptr<char, decltype(&std::free)> dotted(nullptr, &std::free);
    if (path[0] == '-') {
        size_t size = std::strlen(path) + 3;
        dotted.reset(static_cast<char *>(std::malloc(size)));
        if (!dotted)
            return ENOMEM;
        std::snprintf(dotted.get(), size, "./%s", path);
        path = dotted.get();
    }
    // posix_spawnp takes the strings as not const, but does not change them.
    const char *argv[] = {"iconv", "-f", encoding, "-t", "utf-8", path, nullptr};

    int pipe_fds[2];
    if (pipe(pipe_fds) == -1)
        return errno;
    int read_fd = pipe_fds[0], write_fd = pipe_fds[1];

    posix_spawn_file_actions_t actions;
    int err = posix_spawn_file_actions_init(&actions);
    if (err == 0) {
        err = posix_spawn_file_actions_addclose(&actions, read_fd);
        if (err == 0 && write_fd != STDOUT_FILENO) {
            err = posix_spawn_file_actions_adddup2(&actions, write_fd, STDOUT_FILENO);
            if (err == 0)
                err = posix_spawn_file_actions_addclose(&actions, write_fd);
        }
        if (err == 0)
            err = posix_spawnp(&pid_, argv[0], &actions, nullptr, const_cast<char *const *>(argv),
                               environ);
        posix_spawn_file_actions_destroy(&actions);
    }
    close(write_fd);
    if (err != 0) {
        close(read_fd);
        pid_ = -1;
        return err;
    }
    stream_ = fdopen(read_fd, "r");
    if (stream_ == nullptr) {
        err = errno;
        close(read_fd);
        finish();
        return err;
    }
    return 0;
}

int converter::finish() {
    if (stream_ != nullptr) {
        std::fclose(stream_);
        stream_ = nullptr;
    }
    if (pid_ == -1)
        return -1;
    int status;
    pid_t waited;
    while ((waited = waitpid(pid_, &status, 0)) == -1 && errno == EINTR)
        ;
    pid_ = -1;
    return waited == -1 ? -1 : status;
}

const char *source_encoding(const char *path) {
    // Only a regular file is opened and read here: opening a FIFO would let its
    // writer go on before the converter is there to read.
    struct stat st;
    if (stat(path, &st) == -1)
        return nullptr;
    unsigned char head[2];
    ssize_t got = 0;
    if (S_ISREG(st.st_mode)) {
        int fd = open(path, O_RDONLY);
        if (fd == -1)
            return nullptr;
        while ((got = read(fd, head, sizeof head)) == -1 && errno == EINTR)
            ;
        close(fd);
    } else if (access(path, R_OK) == -1) {
        return nullptr;
    }

    // Too short to tell, or not a file that can be read twice.
    if (got < 2)
        return "utf-16";
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
