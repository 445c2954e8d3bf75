// The PO path, walked one name at a time as the kernel walks it.
#include "po_path.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

namespace {

// The path as it is walked, and the text of a link spliced into it.
char text[PATH_MAX], spliced[PATH_MAX];

// Where fs.protected_regular or fs.protected_fifos is 2, the kernel applies
// its rule for files in sticky folders that the group may write, too.
bool group_too(const struct stat &st) {
#ifdef __linux__
    bool fifo = S_ISFIFO(st.st_mode);
    char level = '0';
    int fd = !S_ISREG(st.st_mode) && !fifo
                 ? -1
                 : open(fifo ? "/proc/sys/fs/protected_fifos" : "/proc/sys/fs/protected_regular",
                        O_RDONLY | O_CLOEXEC);
    if (fd != -1) {
        if (read(fd, &level, 1) != 1)
            level = '0';
        close(fd);
    }
    return level == '2';
#else
    (void)st;
    return false;
#endif
}

// What the rule says of st in folder: 0, that it does not cover it; 1,
// that it covers it, but the user or the folder's owner owns it; 2, that it
// refuses it; -1, that the folder cannot be looked at.
int rule(int folder, const struct stat &st) {
    struct stat dir;
    if (fstat(folder, &dir) == -1)
        return -1;
    if ((dir.st_mode & S_ISVTX) == 0 ||
        ((dir.st_mode & S_IWOTH) == 0 && ((dir.st_mode & S_IWGRP) == 0 || !group_too(st))))
        return 0;
    return st.st_uid == geteuid() || st.st_uid == dir.st_uid ? 1 : 2;
}

// Folders are opened to name files in, which needs no right to read them
// where the system can say so.
#if defined(O_PATH)
const int folder_flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#elif defined(O_SEARCH)
const int folder_flags = O_SEARCH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
const int folder_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

// Opens the folder name in folder, which then stands for it.
int enter(int &folder, const char *name) {
    int next = openat(folder, name, folder_flags);
    if (next == -1)
        return errno;
    close(folder);
    folder = next;
    return 0;
}

// Puts the text of the link name in folder in front of rest, in text.
int splice(int folder, const char *name, const char *rest) {
    ssize_t got = readlinkat(folder, name, spliced, sizeof spliced);
    if (got == -1)
        return errno;
    size_t size = static_cast<size_t>(got), rest_size = std::strlen(rest);
    if (size + 1 + rest_size >= sizeof text)
        return ENAMETOOLONG;
    if (rest_size > 0)
        spliced[size++] = '/';
    std::memcpy(spliced + size, rest, rest_size + 1);
    std::memcpy(text, spliced, size + rest_size + 1);
    return 0;
}

} // namespace

int open_folder(const char *path) {
    return open(path, folder_flags & ~O_NOFOLLOW);
}

int walk(const char *path, po_place &place) {
    size_t size = std::strlen(path);
    if (size == 0 || size >= sizeof text)
        return size == 0 ? ENOENT : ENAMETOOLONG;
    std::memcpy(text, path, size + 1);
    place.folder = open(".", folder_flags);
    char *p = text;
    for (int links = 0;;) {
        // A path, or the text of a link, that begins at the root: the root
        // and the first folder in it are opened together, as the rule has no
        // say in the root, and as an emulator that lays a folder of its own
        // over the root (qemu-user's -L) finds the real one only so.
        if (p == text && *p == '/') {
            close(place.folder);
            char *first = p + std::strspn(p, "/"), *slash = std::strchr(first, '/');
            if (slash != nullptr && slash > first)
                *slash = '\0';
            place.folder =
                open(slash != nullptr && slash > first ? text : "/", folder_flags & ~O_NOFOLLOW);
            if (slash != nullptr && slash > first)
                p = slash + 1;
        }
        if (place.folder == -1)
            return errno;
        while (*p == '/')
            p++;
        char *end = std::strchr(p, '/');
        size_t name_size = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
        if (name_size > name_max)
            return ENAMETOOLONG;
        std::memcpy(place.name, p, name_size);
        place.name[name_size] = '\0';
        char *rest = end != nullptr ? end + 1 : p + name_size;
        bool last = end == nullptr;
        if (name_size == 0)
            return fstat(place.folder, &place.st) == -1 ? errno : 0;
        if (fstatat(place.folder, place.name, &place.st, AT_SYMLINK_NOFOLLOW) == -1) {
            place.st = {};
            return last && errno == ENOENT ? 0 : errno;
        }
        if (S_ISLNK(place.st.st_mode)) {
            if (refused_in(place.folder, place.st))
                return EACCES;
            if (++links > 40)
                return ELOOP;
            if (last && of_proc(place.folder))
                return 0;
            if (int err = splice(place.folder, place.name, rest))
                return err;
            p = text;
            continue;
        }
        if (last)
            return 0;
        if (int err = enter(place.folder, place.name))
            return err;
        p = rest;
    }
}

bool refused_in(int folder, const struct stat &st) {
    int says = rule(folder, st);
    return says == -1 || says == 2;
}

bool shared_sticky(int folder, const struct stat &st) {
    return rule(folder, st) > 0;
}

bool of_proc(int folder) {
#ifdef __linux__
    struct statfs fs;
    return fstatfs(folder, &fs) == 0 && fs.f_type == 0x9fa0; // PROC_SUPER_MAGIC
#else
    (void)folder;
    return false;
#endif
}
