// The PO output: a temporary file renamed or copied over the PO file at the end.
#include "po_output.h"

#include "interrupt.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace {

// The stream's buffer, larger than the system's page-sized default so that a
// large catalogue costs fewer writes; after the stream is closed, the buffer
// of the copy at commit.
char buffer[1 << 16];

// The longest name of a file that every common file system takes.
const size_t name_max = 255;

// Whether the descriptor writes to the file that st describes.
bool same_file(int fd, const struct stat &st) {
    struct stat other;
    return fstat(fd, &other) == 0 && other.st_dev == st.st_dev && other.st_ino == st.st_ino;
}

// A copy of the first size bytes of text and then of tail, or null.
char *joined(const char *text, size_t size, const char *tail) {
    size_t tail_size = std::strlen(tail) + 1;
    auto *out = static_cast<char *>(std::malloc(size + tail_size));
    if (out != nullptr) {
        std::memcpy(out, text, size);
        std::memcpy(out + size, tail, tail_size);
    }
    return out;
}

// The name that path has at the end of its symbolic links, so that the link
// stays and the file it names is replaced, or created where it names nothing
// yet. Sets *st to what lies there, its st_nlink to 0 where nothing does.
// Null, with errno set, where it cannot be told: a loop of links, or a name
// too long for the system.
char *final_name(const char *path, struct stat *st) {
    char *name = joined(path, std::strlen(path), "");
    char text[PATH_MAX];
    for (int links = 0; name != nullptr; links++) {
        if (lstat(name, st) == -1) {
            if (errno != ENOENT)
                break;
            st->st_nlink = 0;
            return name;
        }
        if (!S_ISLNK(st->st_mode))
            return name;
        ssize_t size = readlink(name, text, sizeof text);
        if (size == -1 || links == 40 || size == sizeof text) {
            errno = size == -1 ? errno : links == 40 ? ELOOP : ENAMETOOLONG;
            break;
        }
        text[size] = '\0';
        // A relative link is read from the folder that the link lies in.
        const char *slash = std::strrchr(name, '/');
        size_t folder =
            text[0] == '/' || slash == nullptr ? 0 : static_cast<size_t>(slash + 1 - name);
        char *next = joined(name, folder, text);
        std::free(name);
        name = next;
    }
    std::free(name);
    return nullptr;
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

// Lists the extended attributes of the file at path, or of fd, into list;
// -1 on failure. None where the file system keeps none.
ssize_t list_attributes(const char *path, int fd, char *list) {
    ssize_t size = path != nullptr ? listxattr(path, list, sizeof names[0])
                                   : flistxattr(fd, list, sizeof names[0]);
    return size == -1 && errno == ENOTSUP ? 0 : size;
}

bool listed(const char *list, ssize_t size, const char *name) {
    for (const char *p = list; p < list + size; p += std::strlen(p) + 1)
        if (std::strcmp(p, name) == 0)
            return true;
    return false;
}

// Gives the file fd the extended attributes of the file at path, and only
// those: they hold its POSIX ACL and its security labels. False where that
// cannot be done.
bool keep_attributes(int fd, const char *path) {
    ssize_t old_size = list_attributes(path, -1, names[0]);
    ssize_t new_size = list_attributes(nullptr, fd, names[1]);
    bool kept = old_size != -1 && new_size != -1;
    // Those the new file got from its folder, such as a default ACL, go.
    for (const char *p = names[1]; kept && p < names[1] + new_size; p += std::strlen(p) + 1)
        kept = listed(names[0], old_size, p) || fremovexattr(fd, p) == 0;
    for (const char *p = names[0]; kept && p < names[0] + old_size; p += std::strlen(p) + 1) {
        ssize_t size = getxattr(path, p, values[0], sizeof values[0]);
        // Set only where it differs: a label may be the same, yet not settable.
        kept = size != -1 && ((fgetxattr(fd, p, values[1], sizeof values[1]) == size &&
                               std::memcmp(values[0], values[1], static_cast<size_t>(size)) == 0) ||
                              fsetxattr(fd, p, values[0], static_cast<size_t>(size), 0) == 0);
    }
    return kept;
}
#else
bool keep_attributes(int, const char *) {
    return true;
}
#endif

// Gives the file fd what a plain write of the old file at path would keep:
// its owner, its mode and its extended attributes. False where any of them
// cannot be given.
bool keep_owner_and_mode(int fd, const char *path, const struct stat &st) {
    // The owner first: changing it clears the set-user-ID and set-group-ID bits.
    if (fchown(fd, st.st_uid, st.st_gid) == -1 || fchmod(fd, st.st_mode & 07777) == -1)
        return false;
    // Those bits are dropped silently where the process may not set them.
    struct stat now;
    if ((st.st_mode & 07000) != 0 && (fstat(fd, &now) == -1 || now.st_mode != st.st_mode))
        return false;
    return keep_attributes(fd, path);
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
    if (in_place_ != -1)
        close(in_place_);
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

void po_output::note_sharing(const struct stat &st) {
    shares_stdout_ = same_file(STDOUT_FILENO, st);
    shares_stderr_ = same_file(STDERR_FILENO, st);
}

int po_output::open(const char *path) {
    struct stat st;
    bool exists = stat(path, &st) == 0;
    if (!exists && errno != ENOENT)
        return errno;
    if (exists && !S_ISREG(st.st_mode))
        return open_stream(path);
    if (exists) {
        note_sharing(st);
        // A file that the user has kept from being written stays as it is.
        if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == -1)
            return errno;
    }
    struct stat there;
    char *name = final_name(path, &there);
    if (!exists) {
        // Created by the rename at commit, or not at all.
        int err = name == nullptr ? errno : open_temporary(name, 0666);
        if (err == 0)
            target_ = name;
        else
            std::free(name);
        return err;
    }

    bool named = name != nullptr && there.st_nlink != 0 && there.st_dev == st.st_dev &&
                 there.st_ino == st.st_ino;
    bool keeps_itself = st.st_nlink > 1 || shares_stdout_ || shares_stderr_;
    if (named && !keeps_itself && open_temporary(name, 0600) == 0 &&
        keep_owner_and_mode(fileno(stream_), name, st)) {
        target_ = name;
        return 0;
    }
    // Copied over at commit; opened now, so that a file that cannot be
    // written fails before anything else is done.
    in_place_ = ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    int err = in_place_ == -1 ? errno : 0;
    if (err == 0 && stream_ == nullptr && named && keeps_itself)
        open_temporary(name, 0600);
    std::free(name);
    if (err == 0 && stream_ == nullptr) {
        const char *folder = std::getenv("TMPDIR");
        if (folder == nullptr || *folder == '\0')
            folder = "/tmp";
        char *tmp_name = joined(folder, std::strlen(folder), "/quorvel");
        err = tmp_name == nullptr ? ENOMEM : open_temporary(tmp_name, 0600);
        std::free(tmp_name);
    }
    return err;
}

int po_output::open_stream(const char *path) {
    int fd = ::open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd == -1)
        return errno;
    struct stat st;
    if (fstat(fd, &st) == 0)
        note_sharing(st);
    stream_ = fdopen(fd, "w");
    if (stream_ == nullptr) {
        int err = errno;
        close(fd);
        return err;
    }
    std::setvbuf(stream_, buffer, _IOFBF, sizeof buffer);
    return 0;
}

int po_output::open_temporary(const char *name, mode_t mode) {
    const char *slash = std::strrchr(name, '/');
    const char *base = slash != nullptr ? slash + 1 : name;
    size_t folder_size = static_cast<size_t>(base - name), base_size = std::strlen(base);
    if (base_size == 0)
        return EISDIR;
    // The temporary name is no longer than a name may be: the copied part is
    // cut, between two characters.
    if (base_size > name_max - 8) {
        base_size = name_max - 8;
        while (base_size > 0 && (static_cast<unsigned char>(base[base_size]) & 0xC0) == 0x80)
            base_size--;
    }
    auto *temp = static_cast<char *>(std::malloc(folder_size + base_size + 9));
    if (temp == nullptr)
        return ENOMEM;
    std::memcpy(temp, name, folder_size);
    temp[folder_size] = '.';
    std::memcpy(temp + folder_size + 1, base, base_size);
    char *x_end = temp + folder_size + 1 + base_size + 7;
    std::memcpy(x_end - 7, ".XXXXXX", 8);

    int fd;
    {
        // Held until the file is on record, so that an interrupt removes it.
        interrupts_held held;
        for (int tries = 0; tries < 100; tries++) {
            fill_template(x_end);
            fd = ::open(temp, O_RDWR | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, mode);
            if (fd != -1 || errno != EEXIST)
                break;
        }
        if (fd != -1) {
            temp_ = temp;
            on_interrupt_remove(temp_);
        }
    }
    if (fd == -1) {
        int err = errno;
        std::free(temp);
        return err;
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

int po_output::commit() {
    if (temp_ == nullptr) {
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
    if (err == 0) {
        // Held, so that the run ends with the new catalogue in place or with
        // the old one as it was, never in between.
        interrupts_held held;
        if (target_ == nullptr) {
            err = copy_in_place(data);
        } else if (rename(temp_, target_) == 0) {
            on_interrupt_remove(nullptr);
            std::free(temp_);
            temp_ = nullptr;
        } else if (refused(err = errno) &&
                   (in_place_ = ::open(target_, O_WRONLY | O_NOCTTY | O_CLOEXEC)) != -1) {
            err = copy_in_place(data);
        }
        if (err == 0)
            on_interrupt_exit(0);
    }
    if (data != -1)
        close(data);
    discard();
    return err;
}

int po_output::copy_in_place(int data) {
    off_t size = 0;
    int err = 0;
    for (;;) {
        ssize_t got = pread(data, buffer, sizeof buffer, size);
        if (got <= 0) {
            err = got == 0 ? 0 : errno;
            break;
        }
        for (ssize_t done = 0, put; done < got && err == 0; done += put) {
            if ((put = pwrite(in_place_, buffer + done, static_cast<size_t>(got - done),
                              size + done)) <= 0)
                err = put == 0 ? EIO : errno;
            cut_ = cut_ || put > 0;
        }
        if (err != 0)
            break;
        size += got;
    }
    if (err == 0 && ftruncate(in_place_, size) == 0)
        cut_ = true;
    else if (err == 0)
        err = errno;
    if (close(in_place_) == -1 && err == 0)
        err = errno;
    in_place_ = -1;
    // Cut: the file was changed, but the copy did not end well.
    cut_ = cut_ && err != 0;
    return err;
}
