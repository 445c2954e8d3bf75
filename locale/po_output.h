// The PO output: the catalogue's file, changed only when the run succeeds.
#ifndef QUORVEL_PO_OUTPUT_H
#define QUORVEL_PO_OUTPUT_H

#include "interrupt.h"

#include <cstdio>
#include <optional>
#include <sys/stat.h>

// The catalogue is written to a temporary file, .NAME.XXXXXX beside the PO
// file, and put in its place only at commit, so that a failed or interrupted
// run leaves the PO file, or its absence, as it was. The tool finds the PO
// file as the kernel would for the same user, and holds it, and the folder
// its name lies in, from open to commit: in a sticky world-writable folder a
// symbolic link or file that neither the user nor the folder's owner owns is
// refused, and a name that no longer names the file looked at fails the run.
// The temporary file takes the PO file's name by rename where it can stand
// for the old file in full: the same owner, mode and extended attributes.
// Otherwise (the file has more than one name, standard output or error writes
// to it, its folder takes no new file or its attributes cannot all be given)
// it is copied over the PO file at commit, under a lock and into room
// reserved first, which keeps the file itself; the temporary file then lies
// in $TMPDIR or /tmp if it cannot lie beside it. Anything that is not a
// regular file (a device, a FIFO) is written to as the run goes.
class po_output {
  public:
    po_output() = default;
    ~po_output();
    po_output(const po_output &) = delete;
    po_output &operator=(const po_output &) = delete;

    // Returns 0, or the errno value that keeps the PO file from being written,
    // or -1 for a file that holds other text than a catalogue (note() says
    // so), which is never replaced; then nothing has been created or changed.
    int open(const char *path);

    FILE *stream() const { return stream_; }

    // Whether standard output or standard error writes to the PO file itself,
    // where nothing but the catalogue may go.
    bool shares_stdout() const { return shares_stdout_; }
    bool shares_stderr() const { return shares_stderr_; }

    // Puts the catalogue in the PO file's place. Returns 0, or the errno value
    // of the first failure, after which the temporary file is gone and the PO
    // file is as it was, unless note() says that copying over it failed;
    // interrupts then wait until this is gone, so that the failure can be
    // told first.
    int commit();

    // The path that the last failure concerns: the PO file's, or the
    // temporary folder's; and what more there is to say of it, or null.
    const char *error_path() const { return error_path_; }
    const char *note() const { return note_; }

  private:
    // Walks to the folder and name at the end of path's symbolic links.
    int find(const char *path);
    // Follows a link of /proc to the file it stands for, which has no name.
    int open_unnamed();
    // Opens the PO file that find found; fails where another took its name.
    int open_named();
    // Makes the temporary file in folder; the mode is what open gives a new
    // file with it.
    int open_temporary(int folder, const char *name, mode_t mode);
    // Whether the PO file's name still names what open found there.
    int unchanged();
    // Says that it does not; returns the errno value of that failure.
    int changed();
    // Copies the temporary file, read through data, over the PO file.
    int copy_in_place(int data);
    // Removes the temporary file, if there is one.
    void discard();

    FILE *stream_ = nullptr;
    const char *path_ = nullptr;
    int folder_ = -1;      // the folder the PO file's name lies in; -1 for none
    char name_[256] = "";  // that name
    struct stat st_ = {};  // what it named at open; st_nlink 0 for nothing
    int po_ = -1;          // the PO file, open for writing, where it exists
    int temp_folder_ = -1; // the folder of the temporary file, if there is one
    char temp_[256] = "";  // its name there
    bool rename_ = false;  // whether it takes the PO file's name, else is copied
    bool shares_stdout_ = false, shares_stderr_ = false;
    const char *error_path_ = nullptr;
    const char *note_ = nullptr;
    std::optional<interrupts_held> held_; // around the commit, and after a cut
};

#endif
