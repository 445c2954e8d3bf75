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

// The links the kernel follows in one path.
const int most_links = 40;

// The path as it is walked, from its end back: a link's text goes in front
// of the rest of the path, so that each may take PATH_MAX bytes; and the
// text of a link as it is read.
char text[(most_links + 1) * PATH_MAX], link_text[PATH_MAX];

// Where fs.protected_regular or fs.protected_fifos is 2, the kernel applies
// its rule for files in sticky folders that the group may write, too; where
// the level cannot be read, it is taken as 2.
bool group_too(const struct stat &st) {
#ifdef __linux__
    bool fifo = S_ISFIFO(st.st_mode);
    char level = '2';
    int fd = !S_ISREG(st.st_mode) && !fifo
                 ? -1
                 : open(fifo ? "/proc/sys/fs/protected_fifos" : "/proc/sys/fs/protected_regular",
                        O_RDONLY | O_CLOEXEC);
    if (fd != -1) {
        if (read(fd, &level, 1) != 1)
            level = '2';
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
[[gnu::noinline]] int rule(const struct stat &dir, const struct stat &st) {
    if ((dir.st_mode & S_ISVTX) == 0 ||
        ((dir.st_mode & S_IWOTH) == 0 && ((dir.st_mode & S_IWGRP) == 0 || !group_too(st))))
        return 0;
    return st.st_uid == geteuid() || st.st_uid == dir.st_uid ? 1 : 2;
}

int rule(int folder, const struct stat &st) {
    struct stat dir;
    return fstat(folder, &dir) == -1 ? -1 : rule(dir, st);
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

// Puts the text of the link name in folder in front of rest, the path after
// the link, slash included; returns where the path now begins, or null. The
// text of a relative link in the root is walked from the root by its path.
char *splice(int folder, const char *name, char *rest, bool in_root) {
    ssize_t got = readlinkat(folder, name, link_text, sizeof link_text);
    if (got == -1 || got == sizeof link_text) {
        errno = got == -1 ? errno : ENAMETOOLONG;
        return nullptr;
    }
    size_t size = static_cast<size_t>(got);
    bool from_root = in_root && link_text[0] != '/';
    char *p = rest - size - from_root;
    p[0] = '/';
    std::memcpy(p + from_root, link_text, size);
    return p;
}

// Opens the root and the path's first folder in it together (an emulator
// that lays a folder of its own over the root, as qemu-user's -L, finds the
// real one only so), and returns the rest of the path; or, where the first
// name is the last or a link, which the walk follows under the rule like any
// other, the root alone, and the path from that name. Null where that fails.
char *from_root(char *p, po_place &place, bool &in_root) {
    char *first = p + std::strspn(p, "/"), *slash = std::strchr(first, '/');
    close(place.folder);
    if (slash != nullptr) {
        *slash = '\0';
        place.folder = open(p, folder_flags);
        *slash = '/';
        if (place.folder != -1)
            return slash + std::strspn(slash, "/");
        if (errno != ELOOP && errno != ENOTDIR)
            return nullptr;
    }
    in_root = true;
    place.folder = open("/", folder_flags & ~O_NOFOLLOW);
    return place.folder != -1 ? first : nullptr;
}

} // namespace

int open_folder(const char *path) {
    return open(path, folder_flags & ~O_NOFOLLOW);
}

int walk(const char *path, po_place &place) {
    size_t size = std::strlen(path);
    if (size == 0 || size >= PATH_MAX)
        return size == 0 ? ENOENT : ENAMETOOLONG;
    char *p = text + sizeof text - size - 1;
    std::memcpy(p, path, size + 1);
    place.folder = open(".", folder_flags);
    bool in_root = false;
    for (int links = 0;;) {
        if (place.folder == -1)
            return errno;
        // A path, or the text of a link, that begins at the root.
        while (*p == '/')
            if ((p = from_root(p, place, in_root)) == nullptr)
                return errno;
        char *end = std::strchr(p, '/');
        size_t name_size = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
        if (name_size > name_max)
            return ENAMETOOLONG;
        std::memcpy(place.name, p, name_size);
        place.name[name_size] = '\0';
        char *rest = p + name_size;
        bool last = end == nullptr;
        if (name_size == 0)
            return fstat(place.folder, &place.st) == -1 ? errno : 0;
        if (fstatat(place.folder, place.name, &place.st, AT_SYMLINK_NOFOLLOW) == -1) {
            place.st = {};
            // A new name with a slash after it: the kernel's open makes no folder.
            bool folder_named = rest[std::strspn(rest, "/")] == '\0';
            return errno != ENOENT ? errno : last ? 0 : folder_named ? EISDIR : ENOENT;
        }
        if (S_ISLNK(place.st.st_mode)) {
            if (refused_in(place.folder, place.st))
                return EACCES;
            if (++links > most_links)
                return ELOOP;
            if (last && of_proc(place.folder))
                return 0;
            if ((p = splice(place.folder, place.name, rest, in_root)) == nullptr)
                return errno;
            continue;
        }
        if (last)
            return 0;
        if (int err = enter(place.folder, place.name))
            return err;
        in_root = false;
        p = rest + std::strspn(rest, "/");
    }
}

bool refused_in(int folder, const struct stat &st) {
    int says = rule(folder, st);
    return says == -1 || says == 2;
}

bool shared_sticky(int folder, const struct stat &st) {
    return rule(folder, st) != 0;
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
