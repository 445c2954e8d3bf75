// The PO output: a temporary file renamed over the PO file at the end.
#include "po_output.h"

#include "interrupt.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether standard output already writes to the file that st describes.
bool is_stdout(const struct stat &st) {
    struct stat out;
    return fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == st.st_dev && out.st_ino == st.st_ino;
}

// Gives a new file the old one's mode and, where the process may, its owner.
void keep_owner_and_mode(int fd, const struct stat &st) {
    if ((st.st_uid != geteuid() || st.st_gid != getegid()) &&
        fchown(fd, st.st_uid, st.st_gid) == -1)
        errno = 0; // not allowed: the file stays the process's own
    fchmod(fd, st.st_mode & 07777);
}

} // namespace

po_output::~po_output() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    discard();
    std::free(target_);
}

void po_output::discard() {
    if (temp_ == nullptr)
        return;
    {
        interrupts_held held;
        unlink(temp_);
        on_interrupt_remove(nullptr);
    }
    std::free(temp_);
    temp_ = nullptr;
}

int po_output::open(const char *path) {
    // A link is followed to the file it names, which is replaced in its stead;
    // a link that names nothing yet is written through, in place.
    struct stat st = {}, link = {};
    bool exists = stat(path, &st) == 0;
    bool absent = !exists && errno == ENOENT && lstat(path, &link) == -1 && errno == ENOENT;
    char *resolved = nullptr;
    if (exists && lstat(path, &link) == 0 && S_ISLNK(link.st_mode))
        resolved = realpath(path, nullptr);
    const char *target = exists && S_ISLNK(link.st_mode) ? resolved : path;

    bool replace = target != nullptr &&
                   (absent || (S_ISREG(st.st_mode) && st.st_nlink == 1 && !is_stdout(st) &&
                               faccessat(AT_FDCWD, target, W_OK, AT_EACCESS) == 0));
    if (replace && open_temporary(target, exists ? &st : nullptr) == 0) {
        std::free(resolved);
        return 0;
    }
    std::free(resolved);

    stream_ = std::fopen(path, "w");
    return stream_ == nullptr ? errno : 0;
}

int po_output::open_temporary(const char *target, const struct stat *old) {
    const char *slash = std::strrchr(target, '/');
    const char *base = slash != nullptr ? slash + 1 : target;
    if (*base == '\0')
        return EISDIR;
    size_t folder_size = static_cast<size_t>(base - target), base_size = std::strlen(base);
    char *temp = static_cast<char *>(std::malloc(folder_size + base_size + 9));
    char *target_copy = strdup(target);
    if (temp == nullptr || target_copy == nullptr) {
        std::free(temp);
        std::free(target_copy);
        return ENOMEM;
    }
    char *end = temp;
    std::memcpy(end, target, folder_size);
    end += folder_size;
    *end++ = '.';
    std::memcpy(end, base, base_size);
    std::memcpy(end + base_size, ".XXXXXX", 8);

    int fd;
    {
        // Held until the file is on record, so that an interrupt removes it.
        interrupts_held held;
        fd = mkstemp(temp);
        if (fd != -1) {
            temp_ = temp;
            on_interrupt_remove(temp_);
        }
    }
    if (fd == -1) {
        int err = errno;
        std::free(temp);
        std::free(target_copy);
        return err;
    }
    target_ = target_copy;
    if (old != nullptr) {
        keep_owner_and_mode(fd, *old);
    } else {
        // mkstemp makes it 0600; a new PO file gets what "w" would give it.
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    stream_ = fdopen(fd, "w");
    if (stream_ == nullptr) {
        int err = errno;
        close(fd);
        discard();
        return err;
    }
    return 0;
}

int po_output::commit() {
    int err = 0;
    if (stream_ != nullptr && std::fclose(stream_) == EOF)
        err = errno;
    stream_ = nullptr;
    if (temp_ != nullptr && err == 0) {
        interrupts_held held;
        if (rename(temp_, target_) == 0) {
            on_interrupt_remove(nullptr);
            std::free(temp_);
            temp_ = nullptr;
        } else {
            err = errno;
        }
    }
    discard();
    return err;
}
