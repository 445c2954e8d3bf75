// The converter: the system's iconv utility as a child process.
#include "converter.h"

#include <cerrno>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

int converter::start(const char *path, const char *encoding) {
    // A path that begins with a dash would be read as an option.
    std::string file = path[0] == '-' ? std::string("./") + path : std::string(path);
    std::string from = encoding;
    char iconv[] = "iconv", f[] = "-f", t[] = "-t", utf8[] = "utf-8";
    char *argv[] = {iconv, f, &from[0], t, utf8, &file[0], nullptr};

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
            err = posix_spawnp(&pid_, iconv, &actions, nullptr, argv, environ);
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
