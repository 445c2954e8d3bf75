// The PO output: a temporary file renamed or copied over the PO file at the end.
#include "po_output.h"

#include "po_writer.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#include <sys/xattr.h>
#endif

namespace {

// The stream's buffer, larger than the system's page-sized default so that a
// large catalogue costs fewer writes; after the stream is closed, the buffer
// of the copy at commit.
char buffer[1 << 16];

const char cut_short[] = "the file may be cut short";

// The longest name of a file that every common file system takes.
const size_t name_max = 255;

// A path, or the text of a symbolic link, as it is walked.
char text[PATH_MAX];

// Folders are opened to name files in, which needs no right to read them
// where the system can say so.
#if defined(O_PATH)
const int folder_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#elif defined(O_SEARCH)
const int folder_flags = O_SEARCH | O_DIRECTORY | O_CLOEXEC;
#else
const int folder_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

bool same(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the descriptor writes to the file that st describes.
bool same_file(int fd, const struct stat &st) {
    struct stat other;
    return fstat(fd, &other) == 0 && same(other, st);
}

// The kernel's rule for sticky folders that anyone may write, such as /tmp:
// a symbolic link there is followed, and a regular file or FIFO there
// written, only by its owner or where the folder's owner owns it. Whether
// the kernel is set to apply it or not, the tool does.
bool refused_in(int folder, const struct stat &st) {
    struct stat dir;
    return fstat(folder, &dir) == -1 ||
           ((dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) && st.st_uid != geteuid() &&
            st.st_uid != dir.st_uid);
}

// Whether a folder is of /proc, whose links (/proc/self/fd/1 behind
// /dev/stdout) stand for open files, which may have no name at all.
bool of_proc(int folder) {
#ifdef __linux__
    struct statfs fs;
    return fstatfs(folder, &fs) == 0 && fs.f_type == 0x9fa0; // PROC_SUPER_MAGIC
#else
    (void)folder;
    return false;
#endif
}

// Fills the Xs at the end of a template with letters and digits that another
// process is unlikely to pick at the same moment.
void fill_template(char *x_end) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static uint64_t state = 0;
    if (state == 0) {
        struct timespec now = {};
        clock_gettime(CLOCK_REALTIME, &now);
        state = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(now.tv_sec) << 30 ^
                static_cast<uint64_t>(getpid()) << 40;
    }
    state = state * 6364136223846793005u + 1442695040888963407u;
    uint64_t bits = state >> 16;
    for (char *p = x_end - 6; p < x_end; p++, bits /= 62)
        *p = digits[bits % 62];
}

#ifdef __linux__
// The names of a file's extended attributes, and two of their values; a list
// or a value takes at most 64 KiB.
char names[2][1 << 16], values[2][1 << 16];

// Lists the extended attributes of fd into list; -1 on failure. None where
// the file system keeps none.
ssize_t list_attributes(int fd, char *list) {
    ssize_t size = flistxattr(fd, list, sizeof names[0]);
    return size == -1 && errno == ENOTSUP ? 0 : size;
}

bool listed(const char *list, ssize_t size, const char *name) {
    for (const char *p = list; p < list + size; p += std::strlen(p) + 1)
        if (std::strcmp(p, name) == 0)
            return true;
    return false;
}

// Gives the file fd the extended attributes of the file old, and only those:
// they hold its POSIX ACL and its security labels. False where that cannot
// be done.
bool keep_attributes(int fd, int old) {
    ssize_t old_size = list_attributes(old, names[0]);
    ssize_t new_size = list_attributes(fd, names[1]);
    bool kept = old_size != -1 && new_size != -1;
    // Those the new file got from its folder, such as a default ACL, go.
    for (const char *p = names[1]; kept && p < names[1] + new_size; p += std::strlen(p) + 1)
        kept = listed(names[0], old_size, p) || fremovexattr(fd, p) == 0;
    for (const char *p = names[0]; kept && p < names[0] + old_size; p += std::strlen(p) + 1) {
        ssize_t size = fgetxattr(old, p, values[0], sizeof values[0]);
        // Set only where it differs: a label may be the same, yet not settable.
        kept = size != -1 && ((fgetxattr(fd, p, values[1], sizeof values[1]) == size &&
                               std::memcmp(values[0], values[1], static_cast<size_t>(size)) == 0) ||
                              fsetxattr(fd, p, values[0], static_cast<size_t>(size), 0) == 0);
    }
    return kept;
}
#else
bool keep_attributes(int, int) {
    return true;
}
#endif

// Gives the file fd what a plain write of the old file would keep: its
// owner, its mode and its extended attributes. False where any of them
// cannot be given.
bool keep_owner_and_mode(int fd, int old, const struct stat &st) {
    // The owner first: changing it clears the set-user-ID and set-group-ID bits.
    if (fchown(fd, st.st_uid, st.st_gid) == -1 || fchmod(fd, st.st_mode & 07777) == -1)
        return false;
    // Those bits are dropped silently where the process may not set them.
    struct stat now;
    if ((st.st_mode & 07000) != 0 && (fstat(fd, &now) == -1 || now.st_mode != st.st_mode))
        return false;
    return keep_attributes(fd, old);
}

// Opens a file for writing, and for reading too where it may be read and
// read_too is set, so that what it holds can be looked at.
int open_for_writing(int folder, const char *name, int flags, bool read_too) {
    int fd = read_too ? openat(folder, name, O_RDWR | flags) : -1;
    return fd != -1 || (read_too && errno != EACCES) ? fd : openat(folder, name, O_WRONLY | flags);
}

// Whether a regular file holds text that is not a PO catalogue, which the
// tool must not replace; one that cannot be read is taken as one.
bool holds_other_text(int fd) {
    char head[512];
    ssize_t got = pread(fd, head, sizeof head, 0);
    return got > 0 && kind_of_text(head, static_cast<size_t>(got)) == text_kind::other;
}

// Whether a refused rename may still be done as a copy over the file: it is
// of another user in a sticky folder, or a mount point.
bool refused(int err) {
    return err == EPERM || err == EACCES || err == EBUSY || err == EXDEV;
}

// Waits until no other run copies over the same file; where its file system
// keeps no locks, goes on without.
int lock(int fd) {
    return flock(fd, LOCK_EX) == -1 && errno != ENOLCK && errno != EOPNOTSUPP ? errno : 0;
}

// Reserves the room that size bytes of the file take, changing nothing else,
// so that a full disk fails the copy before it begins; goes on where the
// file system cannot reserve.
int reserve(int fd, off_t size) {
#ifdef __linux__
    if (size > 0 && fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size) == -1 && errno != EOPNOTSUPP &&
        errno != ENOSYS && errno != EINVAL)
        return errno;
#else
    (void)fd;
    (void)size;
#endif
    return 0;
}

} // namespace

po_output::~po_output() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    discard();
    if (temp_folder_ != -1 && temp_folder_ != folder_)
        close(temp_folder_);
    for (int fd : {po_, folder_})
        if (fd != -1)
            close(fd);
}

void po_output::discard() {
    if (temp_[0] == '\0')
        return;
    interrupts_held held;
    unlinkat(temp_folder_, temp_, 0);
    on_interrupt_remove(-1, nullptr);
    temp_[0] = '\0';
}

int po_output::changed() {
    note_ = "another file took its name during the run";
    return EEXIST;
}

int po_output::open(const char *path) {
    path_ = error_path_ = path;
    int err = find(path);
    if (err != 0)
        return err;
    if (st_.st_nlink == 0) {
        // Nothing there yet: created by the rename at commit, or not at all.
        rename_ = true;
        return name_[0] == '\0' ? EISDIR : open_temporary(folder_, name_, 0666);
    }
    if (S_ISDIR(st_.st_mode))
        return EISDIR;
    if (folder_ != -1 && (err = open_named()) != 0)
        return err;
    shares_stdout_ = same_file(STDOUT_FILENO, st_);
    shares_stderr_ = same_file(STDERR_FILENO, st_);
    if (S_ISREG(st_.st_mode) && holds_other_text(po_)) {
        note_ = "not a PO file; not overwritten (is the strings file named first?)";
        return -1;
    }
    if (!S_ISREG(st_.st_mode)) {
        stream_ = fdopen(po_, "w");
        if (stream_ == nullptr)
            return errno;
        po_ = -1;
        std::setvbuf(stream_, buffer, _IOFBF, sizeof buffer);
        return 0;
    }
    // Beside the PO file where the folder takes it; copied over the PO file
    // at commit where it cannot stand for it.
    rename_ = folder_ != -1 && st_.st_nlink == 1 && !shares_stdout_ && !shares_stderr_;
    if (folder_ != -1 && open_temporary(folder_, name_, 0600) == 0)
        return 0;
    rename_ = false;
    const char *tmp = std::getenv("TMPDIR");
    error_path_ = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    int folder = ::open(error_path_, folder_flags);
    if (folder == -1)
        return errno;
    if ((err = open_temporary(folder, "quorvel", 0600)) != 0)
        close(folder);
    return err;
}

int po_output::find(const char *path) {
    size_t size = std::strlen(path);
    if (size == 0 || size >= sizeof text)
        return size == 0 ? ENOENT : ENAMETOOLONG;
    std::memcpy(text, path, size + 1);
    for (int links = 0;; links++) {
        // The kernel walks to the folder, from the folder of the link read
        // last; the name in it is looked at here.
        char *slash = std::strrchr(text, '/');
        const char *name = slash != nullptr ? slash + 1 : text;
        size_t name_size = std::strlen(name);
        if (name_size > name_max)
            return ENAMETOOLONG;
        if (slash != nullptr)
            *slash = '\0';
        const char *folder_path = slash == nullptr ? "." : slash == text ? "/" : text;
        int folder = openat(folder_ != -1 ? folder_ : AT_FDCWD, folder_path, folder_flags);
        if (folder == -1)
            return errno;
        if (folder_ != -1)
            close(folder_);
        folder_ = folder;
        std::memcpy(name_, name, name_size + 1);
        if (fstatat(folder_, name_, &st_, AT_SYMLINK_NOFOLLOW) == -1) {
            st_.st_nlink = 0;
            return errno == ENOENT ? 0 : errno;
        }
        if (!S_ISLNK(st_.st_mode))
            return 0;
        if (refused_in(folder_, st_))
            return EACCES;
        if (links == 40)
            return ELOOP;
        if (of_proc(folder_))
            return open_unnamed();
        ssize_t got = readlinkat(folder_, name_, text, sizeof text);
        if (got == -1)
            return errno;
        if (got == sizeof text)
            return ENAMETOOLONG;
        text[got] = '\0';
    }
}

int po_output::open_unnamed() {
    po_ = open_for_writing(folder_, name_, O_NOCTTY | O_CLOEXEC, true);
    if (po_ == -1)
        return errno;
    close(folder_);
    folder_ = -1;
    return fstat(po_, &st_) == -1 ? errno : 0;
}

int po_output::open_named() {
    if ((S_ISREG(st_.st_mode) || S_ISFIFO(st_.st_mode)) && refused_in(folder_, st_))
        return EACCES;
    // Opened now, so that a file that cannot be written fails before anything
    // else is done, and held: this is the file written, or replaced.
    po_ = open_for_writing(folder_, name_, O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, S_ISREG(st_.st_mode));
    if (po_ == -1)
        return errno == ELOOP ? changed() : errno;
    struct stat now;
    if (fstat(po_, &now) == -1)
        return errno;
    return same(now, st_) ? 0 : changed();
}

int po_output::open_temporary(int folder, const char *name, mode_t mode) {
    // The temporary name is no longer than a name may be: the copied part is
    // cut, between two characters.
    size_t size = std::strlen(name);
    if (size > name_max - 8) {
        size = name_max - 8;
        while (size > 0 && (static_cast<unsigned char>(name[size]) & 0xC0) == 0x80)
            size--;
    }
    temp_[0] = '.';
    std::memcpy(temp_ + 1, name, size);
    char *x_end = temp_ + 1 + size + 7;
    std::memcpy(x_end - 7, ".XXXXXX", 8);

    int fd;
    {
        // Held until the file is on record, so that an interrupt removes it.
        interrupts_held held;
        for (int tries = 0; tries < 100; tries++) {
            fill_template(x_end);
            fd = openat(folder, temp_, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
            if (fd != -1 || errno != EEXIST)
                break;
        }
        if (fd != -1) {
            temp_folder_ = folder;
            on_interrupt_remove(folder, temp_);
        }
    }
    if (fd == -1) {
        temp_[0] = '\0';
        return errno;
    }
    stream_ = fdopen(fd, "w");
    if (stream_ == nullptr) {
        int err = errno;
        close(fd);
        discard();
        return err;
    }
    std::setvbuf(stream_, buffer, _IOFBF, sizeof buffer);
    return 0;
}

int po_output::unchanged() {
    if (folder_ == -1)
        return 0;
    struct stat now;
    if (fstatat(folder_, name_, &now, AT_SYMLINK_NOFOLLOW) == -1)
        return errno != ENOENT ? errno : st_.st_nlink == 0 ? 0 : changed();
    return st_.st_nlink != 0 && same(now, st_) ? 0 : changed();
}

int po_output::commit() {
    if (temp_folder_ == -1) {
        int err = stream_ != nullptr && std::fclose(stream_) == EOF ? errno : 0;
        stream_ = nullptr;
        if (err == 0)
            on_interrupt_exit(0);
        return err;
    }
    // The catalogue is read back through a second descriptor where it is
    // copied; the stream's close must succeed before it goes anywhere.
    int data = dup(fileno(stream_));
    int err = data == -1 ? errno : 0;
    if (std::fclose(stream_) == EOF && err == 0)
        err = errno;
    stream_ = nullptr;
    // From here on, failures are the PO file's; a failed flush above is still
    // the temporary file's, wherever that lies.
    if (err == 0)
        error_path_ = path_;
    // Given once the catalogue is written: a write clears the set-ID bits.
    if (err == 0 && rename_ && po_ != -1 && !keep_owner_and_mode(data, po_, st_))
        rename_ = false;
    if (err == 0 && po_ != -1)
        err = lock(po_);
    if (err == 0) {
        // Held, so that the run ends with the new catalogue in place or with
        // the old one as it was, never in between; and with no temporary file.
        held_.emplace();
        err = unchanged();
        if (err == 0 && rename_) {
            if (renameat(temp_folder_, temp_, folder_, name_) == 0) {
                on_interrupt_remove(-1, nullptr);
                temp_[0] = '\0';
            } else if (refused(errno) && po_ != -1) {
                rename_ = false;
            } else {
                err = errno;
            }
        }
        if (err == 0 && !rename_)
            err = copy_in_place(data);
        // A cut file fails the run, whatever signal comes, once it is told.
        bool cut = note_ == cut_short;
        if (err == 0 || cut)
            on_interrupt_exit(cut ? 1 : 0);
        discard();
        if (!cut)
            held_.reset();
    }
    if (data != -1)
        close(data);
    discard();
    return err;
}

int po_output::copy_in_place(int data) {
    struct stat st;
    int err = fstat(data, &st) == -1 ? errno : reserve(po_, st.st_size);
    off_t size = 0;
    bool cut = false;
    while (err == 0) {
        ssize_t got = pread(data, buffer, sizeof buffer, size);
        if (got <= 0) {
            err = got == 0 ? 0 : errno;
            break;
        }
        for (ssize_t done = 0, put; done < got && err == 0; done += put) {
            if ((put = pwrite(po_, buffer + done, static_cast<size_t>(got - done), size + done)) <=
                0)
                err = put == 0 ? EIO : errno;
            cut = cut || put > 0;
        }
        size += got;
    }
    if (err == 0 && ftruncate(po_, size) == 0)
        cut = true;
    else if (err == 0)
        err = errno;
    if (close(po_) == -1 && err == 0)
        err = errno;
    po_ = -1;
    // Cut: the file was changed, but the copy did not end well.
    if (cut && err != 0)
        note_ = cut_short;
    return err;
}
