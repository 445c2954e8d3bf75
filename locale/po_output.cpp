// The PO output: the catalogue staged in a file of its own, which takes the PO
// file's name or is copied over it at the end.
#include "po_output.h"

#include "message.h"
#include "po_path.h"
#include "po_writer.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif

namespace {

// Where the PO file's first bytes are looked at, and the buffer of the copy
// at commit. The stream has none: the writer hands it its lines in blocks.
char buffer[1 << 16];

const char cut_short[] = "the file may be cut short";

// Whether two looks saw the same file; the type counts too, as a file just
// removed may pass its number on to a FIFO put in its place.
bool same(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
           (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT);
}

// Whether the descriptor writes to the file that st describes.
bool same_file(int fd, const struct stat &st) {
    struct stat other;
    return fstat(fd, &other) == 0 && same(other, st);
}

// The name under which /proc shows an open file, which linkat can give a
// name of its own.
decimal proc_name(int fd) {
    return decimal(fd, "/proc/self/fd/");
}

#ifdef O_TMPFILE
// Whether a file without a name can be given one, as where /proc is mounted.
bool nameable(int fd) {
    struct stat st;
    return stat(proc_name(fd).str(), &st) == 0 && same_file(fd, st);
}
#endif

// Exchanges the names of two files in one step, where the system and the
// file system can.
[[gnu::noinline]] bool exchange_names(int folder_a, const char *a, int folder_b, const char *b) {
#if defined(__linux__) && defined(SYS_renameat2)
    const unsigned exchange = 1 << 1; // RENAME_EXCHANGE
    return syscall(SYS_renameat2, folder_a, a, folder_b, b, exchange) == 0;
#else
    (void)folder_a, (void)a, (void)folder_b, (void)b;
    return false;
#endif
}

// Gives the file fd, which has no name, the name in folder; fails with
// EEXIST where another file has it, which is left as it is.
int link_unnamed(int fd, int folder, const char *name) {
    return linkat(AT_FDCWD, proc_name(fd).str(), folder, name, AT_SYMLINK_FOLLOW);
}

// Gives back the room reserved past length for a copy that failed.
void give_back(int fd, off_t length) {
    if (ftruncate(fd, length) == -1)
        return; // the copy's own failure is the one told
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

// Opens the PO file st, name in folder, for writing, without waiting; for
// reading too where it is a regular file that may be read, so that what it
// holds can be looked at. A FIFO without a reader is waited for, saying so;
// once open, writes wait again.
[[gnu::noinline]] int open_for_writing(int folder, const char *name, int flags,
                                       const struct stat &st, const char *path) {
    flags |= O_NONBLOCK;
    int fd = S_ISREG(st.st_mode) ? openat(folder, name, O_RDWR | flags) : -1;
    if (fd == -1 && (!S_ISREG(st.st_mode) || errno == EACCES))
        fd = openat(folder, name, O_WRONLY | flags);
    if (fd == -1 && errno == ENXIO && S_ISFIFO(st.st_mode)) {
        put(stderr, {path, ": waiting for a reader of the FIFO\n"});
        do
            fd = openat(folder, name, O_WRONLY | (flags & ~O_NONBLOCK));
        while (fd == -1 && errno == EINTR);
    }
    if (fd != -1 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == -1) {
        int err = errno;
        close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

// Whether a regular file holds text that is not a PO catalogue, which the
// tool must not replace; one that cannot be read is taken as one.
bool holds_other_text(int fd) {
    text_kind kind;
    return read_head(fd, buffer, kind) > 0 && kind == text_kind::other;
}

// Whether a refused rename may still be done as a copy over the file: it is
// of another user in a sticky folder, or a mount point.
bool refused(int err) {
    return err == EPERM || err == EACCES || err == EBUSY || err == EXDEV;
}

} // namespace

po_output::~po_output() {
    if (stream_ != nullptr)
        std::fclose(stream_);
    discard();
    if (temp_folder_ != -1 && temp_folder_ != place_.folder)
        close(temp_folder_);
    for (int fd : {po_, place_.folder})
        if (fd != -1)
            close(fd);
}

int po_output::discard() {
    if (!named_)
        return 0;
    interrupts_held held;
    int err = unlinkat(temp_folder_, temp_, 0) == -1 && errno != ENOENT ? errno : 0;
    on_interrupt_remove(-1, nullptr);
    named_ = false;
    return err;
}

int po_output::changed() {
    note_ = "another file took its name during the run";
    return EEXIST;
}

int po_output::open(const char *path, int reader) {
    path_ = error_path_ = path;
    int err = walk(path, place_);
    if (err == 0 && S_ISLNK(place_.st.st_mode))
        err = open_unnamed();
    if (err != 0)
        return err;
    const struct stat &st = place_.st;
    if (st.st_nlink == 0) {
        // Nothing there yet: the name is taken at commit, or not at all.
        rename_ = true;
        return open_temporary(place_.folder, place_.name, 0666);
    }
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (place_.folder != -1 && (err = open_named()) != 0)
        return err;
    shares_stdout_ = same_file(STDOUT_FILENO, st);
    shares_stderr_ = same_file(STDERR_FILENO, st);
    if (same_file(reader, st)) {
        note_ = "the converter's own pipe; not written";
        return -1;
    }
    if (S_ISREG(st.st_mode) && holds_other_text(po_)) {
        note_ = "not a PO file; not overwritten (is the strings file named first?)";
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        stream_ = fdopen(po_, "w");
        if (stream_ == nullptr)
            return errno;
        po_ = -1;
        std::setvbuf(stream_, nullptr, _IONBF, 0);
        return 0;
    }
    // Staged beside the PO file where the folder takes it, so that it can
    // take the file's name. In a sticky folder open to all, a file with more
    // than one name may be another's planted link to a file of the user's:
    // only its name is replaced.
    bool here = place_.folder != -1;
    must_rename_ = here && st.st_nlink > 1 && shared_sticky(place_.folder, st);
    rename_ = must_rename_ || (here && st.st_nlink == 1 && !shares_stdout_ && !shares_stderr_);
    if (here && ((err = open_temporary(place_.folder, place_.name, 0600)) == 0 || must_rename_))
        return err;
    // Else copied over the PO file at commit, from wherever it can wait.
    rename_ = false;
    const char *tmp = std::getenv("TMPDIR");
    error_path_ = temp_dir_ = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    int folder = open_folder(error_path_);
    if (folder == -1)
        return errno;
    if ((err = open_temporary(folder, "quorvel", 0600)) != 0)
        close(folder);
    return err;
}

int po_output::open_unnamed() {
    struct stat target;
    if (fstatat(place_.folder, place_.name, &target, 0) == -1)
        return errno;
    po_ = open_for_writing(place_.folder, place_.name, O_NOCTTY | O_CLOEXEC, target, path_);
    if (po_ == -1)
        return errno;
    close(place_.folder);
    place_.folder = -1;
    return fstat(po_, &place_.st) == -1 ? errno : 0;
}

int po_output::open_named() {
    const struct stat &st = place_.st;
    if ((S_ISREG(st.st_mode) || S_ISFIFO(st.st_mode)) && refused_in(place_.folder, st))
        return EACCES;
    // Opened now, so that a file that cannot be written fails before anything
    // else is done, and held: this is the file written, or replaced. A FIFO
    // or a link put in a regular file's place meanwhile fails the run.
    po_ =
        open_for_writing(place_.folder, place_.name, O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, st, path_);
    if (po_ == -1)
        return errno == ELOOP || (errno == ENXIO && S_ISREG(st.st_mode)) ? changed() : errno;
    struct stat now;
    if (fstat(po_, &now) == -1)
        return errno;
    return same(now, st) ? 0 : changed();
}

int po_output::open_temporary(int folder, const char *name, mode_t mode) {
    // The name it may take at commit is no longer than a name may be: the
    // copied part is cut, between two characters.
    size_t size = std::strlen(name);
    if (size > name_max - 8) {
        size = name_max - 8;
        while (size > 0 && (static_cast<unsigned char>(name[size]) & 0xC0) == 0x80)
            size--;
    }
    temp_[0] = '.';
    std::memcpy(temp_ + 1, name, size);
    std::memcpy(temp_ + 1 + size, ".XXXXXX", 8);

    int fd = -1;
#ifdef O_TMPFILE
    // Without a name, where the system can, so that nothing is left behind
    // whatever ends the run, SIGKILL included.
    fd = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    if (fd != -1 && !nameable(fd)) {
        close(fd);
        fd = -1;
    }
    unnamed_ = fd != -1;
#endif
    if (fd == -1) {
        // Held until the file is on record, so that an interrupt removes it.
        interrupts_held held;
        fd = create_named(folder, -1, mode);
    }
    if (fd == -1)
        return errno;
    temp_folder_ = folder;
    stream_ = fdopen(fd, "w");
    if (stream_ == nullptr) {
        int err = errno;
        close(fd);
        discard();
        return err;
    }
    std::setvbuf(stream_, nullptr, _IONBF, 0);
    return 0;
}

int po_output::create_named(int folder, int unnamed, mode_t mode) {
    char *x_end = temp_ + std::strlen(temp_);
    int fd = -1;
    for (int tries = 0; tries < 100; tries++) {
        fill_template(x_end);
        fd = unnamed == -1
                 ? openat(folder, temp_, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode)
             : link_unnamed(unnamed, folder, temp_) == 0 ? unnamed
                                                         : -1;
        if (fd != -1 || errno != EEXIST)
            break;
    }
    if (fd != -1) {
        named_ = true;
        on_interrupt_remove(folder, temp_);
    }
    return fd;
}

int po_output::unchanged() {
    return place_.folder == -1 ? 0 : unchanged(place_.folder, place_.name);
}

int po_output::unchanged(int folder, const char *name) {
    struct stat now;
    if (fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == -1)
        return errno != ENOENT ? errno : place_.st.st_nlink == 0 ? 0 : changed();
    return place_.st.st_nlink != 0 && same(now, place_.st) ? 0 : changed();
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
    // copied or named; the stream's close must succeed before it goes
    // anywhere.
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
    // A name that must be replaced gets what of them can be given.
    if (err == 0 && rename_ && po_ != -1 && !keep_owner_and_mode(data, po_, place_.st)) {
        if (must_rename_)
            fchmod(data, place_.st.st_mode & 0777);
        else
            rename_ = false;
    }
    if (err == 0 && rename_)
        err = take_name(data);
    if (err == 0 && !rename_)
        err = copy_over(data);
    if (data != -1)
        close(data);
    discard();
    return err;
}

int po_output::take_name(int data) {
    // Held, so that the run ends with the new catalogue in place or with the
    // old one as it was, never in between; and with no temporary file.
    held_.emplace();
    int err = unchanged();
    if (err == 0 && place_.st.st_nlink == 0) {
        // A new PO file takes its name only where nothing has it yet; on a
        // file system without hard links, by rename after the look above.
        int got = unnamed_ ? link_unnamed(data, place_.folder, place_.name)
                           : linkat(temp_folder_, temp_, place_.folder, place_.name, 0);
        if (got == -1 && !unnamed_ && errno != EEXIST)
            got = renameat(temp_folder_, temp_, place_.folder, place_.name);
        return settle(got == 0 ? 0 : errno == EEXIST ? changed() : errno);
    }
    // An existing one is replaced by rename, from a name given to an
    // unnamed file for these last steps.
    if (err == 0 && unnamed_ && create_named(temp_folder_, data, 0) == -1)
        err = errno;
    if (err != 0)
        return settle(err);
    bool exchanged = exchange_names(temp_folder_, temp_, place_.folder, place_.name);
    if (exchanged || renameat(temp_folder_, temp_, place_.folder, place_.name) == 0) {
        // Exchanged, the temporary name is the old file's, which goes at the
        // end; a file that took the PO file's name meanwhile gets it back,
        // and is kept where that fails.
        err = exchanged ? unchanged(temp_folder_, temp_) : 0;
        if (err != 0) {
            named_ = exchange_names(temp_folder_, temp_, place_.folder, place_.name);
        } else if (!exchanged) {
            on_interrupt_remove(-1, nullptr);
            named_ = false;
        }
        return settle(err);
    }
    err = errno;
    if (!refused(err) || po_ == -1 || must_rename_)
        return settle(err);
    // Refused, as in a folder that takes no new name: copied over instead.
    discard();
    held_.reset();
    rename_ = false;
    return 0;
}

int po_output::copy_over(int data) {
    if (int err = lock())
        return err;
    held_.emplace();
    int err = unchanged();
    if (err == 0)
        err = copy_in_place(data);
    return settle(err);
}

int po_output::settle(int err) {
    // A cut file fails the run, whatever signal comes, once it is told.
    bool cut = note_ == cut_short;
    if (err == 0 || cut)
        on_interrupt_exit(cut ? 1 : 0);
    int left = discard();
    if (left != 0 && err == 0 && !shares_stderr_)
        put(stderr, {temp_dir_ != nullptr ? temp_dir_ : path_, ": ", std::strerror(left),
                     ": the temporary file ", temp_, " is left behind\n"});
    if (!cut)
        held_.reset();
    return err;
}

int po_output::lock() {
    // An open file's lock, which flock(1) on the same file neither takes nor
    // waits for, where the system has one.
#ifdef F_OFD_SETLKW
    const int try_lock = F_OFD_SETLK, wait_lock = F_OFD_SETLKW;
#else
    const int try_lock = F_SETLK, wait_lock = F_SETLKW;
#endif
    struct flock whole = {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (fcntl(po_, try_lock, &whole) == 0)
        return 0;
    if (errno == EAGAIN || errno == EACCES) {
        if (!shares_stderr_)
            put(stderr, {path_, ": waiting for another run to finish writing it\n"});
        int got;
        while ((got = fcntl(po_, wait_lock, &whole)) == -1 && errno == EINTR)
            ;
        if (got == 0)
            return 0;
    }
    // Where the file system keeps no locks, the copy goes on without.
    return errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL ? 0 : errno;
}

int po_output::copy_in_place(int data) {
    struct stat st, old;
    bool known = fstat(data, &st) == 0 && fstat(po_, &old) == 0;
    int err = !known ? errno : reserve(po_, st.st_size);
    off_t size = 0, end = 0;
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
            end = put > 0 ? size + done + put : end;
        }
        size += got;
    }
    if (err == 0 && ftruncate(po_, size) == 0)
        cut = true;
    else if (err == 0)
        err = errno;
    else if (known && st.st_size > old.st_size)
        give_back(po_, end > old.st_size ? end : old.st_size);
    // Room reserved and given back changes no byte, but the file's times.
    if (err != 0 && !cut && known) {
#ifdef __APPLE__
        struct timespec times[2] = {old.st_atimespec, old.st_mtimespec};
#else
        struct timespec times[2] = {old.st_atim, old.st_mtim};
#endif
        futimens(po_, times);
    }
    if (close(po_) == -1 && err == 0)
        err = errno;
    po_ = -1;
    // Cut: the file was changed, but the copy did not end well.
    if (cut && err != 0)
        note_ = cut_short;
    return err;
}
