// The PO path, walked as the kernel walks it for the same user, and more
// strictly: in a sticky folder that others may write, such as /tmp, a
// symbolic link is followed, and a regular file or FIFO written, only where
// the user or the folder's owner owns it, whatever the kernel is set to do.
#ifndef QUORVEL_PO_PATH_H
#define QUORVEL_PO_PATH_H

#include <cstddef>
#include <sys/stat.h>

// The longest name of a file that every common file system takes.
const size_t name_max = 255;

// Where a path leads: the folder its last name lies in, and what that name
// names, not following a link.
struct po_place {
    int folder = -1; // held open, to name files in; the caller's to close
    char name[name_max + 1] = "";
    struct stat st = {}; // st_nlink 0 where nothing has the name
};

// Walks path one name at a time from the working folder, or the root,
// following at most 40 symbolic links, each under the rule above; stops at
// the last name that is not a link, or at a link of /proc (/dev/stdout's),
// which stands for an open file. A path that ends in a folder gives that
// folder, with an empty name. Returns 0 or the errno value, EACCES for a link
// that the rule refuses; place.folder is set in either case.
int walk(const char *path, po_place &place);

// Whether the rule refuses the file or link st in folder.
bool refused_in(int folder, const struct stat &st);

// Whether the rule covers the file st in folder: the folder is sticky, and
// others than its owner may write it.
bool shared_sticky(int folder, const struct stat &st);

// Opens a folder, such as $TMPDIR, to name files in.
int open_folder(const char *path);

// Whether a folder is of /proc, whose links stand for open files, which may
// have no name at all.
bool of_proc(int folder);

#endif
