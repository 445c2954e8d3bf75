// The PO output: the catalogue's file, changed only when the run succeeds.
#ifndef QUORVEL_PO_OUTPUT_H
#define QUORVEL_PO_OUTPUT_H

#include "interrupt.h"
#include "po_path.h"

#include <cstdio>
#include <optional>
#include <sys/stat.h>

// The catalogue is staged in a file of its own, without a name where the
// system can make one (else .NAME.XXXXXX), and put in the PO file's place
// only at commit, so that a failed or interrupted run leaves the PO file, or
// its absence, as it was. The tool finds the PO file as the kernel would for
// the same user, by the rule of po_path, and holds it, and the folder its
// name lies in, from open to commit; a name that no longer names the file
// looked at fails the run. A new PO file's name is taken only where nothing
// has it; an existing file is replaced by rename where the new one can stand
// for it in full: the same owner, mode and extended attributes. Otherwise
// (the file has more than one name, standard output or error writes to it,
// its folder takes no new file or its attributes cannot all be given) the
// catalogue is copied over the PO file at commit, under a lock and into room
// reserved first, which keeps the file itself; it then waits in $TMPDIR or
// /tmp if it cannot wait beside it. In a sticky folder open to all, a file
// with more than one name is never written through: its name is replaced.
// Anything that is not a regular file (a device, a FIFO) is written to as
// the run goes. A file that holds other text than a catalogue is refused.
class po_output {
  public:
    po_output() = default;
    ~po_output();
    po_output(const po_output &) = delete;
    po_output &operator=(const po_output &) = delete;

    // Returns 0, or the errno value that keeps the PO file from being written,
    // or -1 for a file that holds other text than a catalogue, or that is
    // the pipe that reader reads (note() says so), which is never replaced;
    // then nothing has been created or changed.
    int open(const char *path, int reader);

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
    // Follows a link of /proc to the file it stands for, which has no name.
    int open_unnamed();
    // Opens the PO file that the walk found; fails where another took its name.
    int open_named();
    // Makes the file the catalogue is staged in, in folder; the mode is what
    // open gives a new file with it.
    int open_temporary(int folder, const char *name, mode_t mode);
    // Gives a staging file the name temp_ in folder: a new file of the mode
    // given where unnamed is -1, else the unnamed file; returns its
    // descriptor, or -1.
    int create_named(int folder, int unnamed, mode_t mode);
    // Whether the PO file's name, or name in folder, still names what open
    // found at the PO file's name.
    int unchanged();
    int unchanged(int folder, const char *name);
    // Says that it does not; returns the errno value of that failure.
    int changed();
    // Puts the catalogue, read through data, in place by its name; where a
    // rename that may be a copy is refused, leaves it to copy_over.
    int take_name(int data);
    // Copies the catalogue, read through data, over the PO file.
    int copy_over(int data);
    int copy_in_place(int data);
    // Waits, saying so, until no other run copies over the same file.
    int lock();
    // Ends a commit whose result is err; see commit.
    int settle(int err);
    // Removes the staging file's name, if it has one; returns the errno value
    // where that fails.
    int discard();

    FILE *stream_ = nullptr;
    const char *path_ = nullptr;
    po_place place_;                 // the PO file's folder and name; folder -1 for none
    int po_ = -1;                    // the PO file, open for writing, where it exists
    int temp_folder_ = -1;           // the folder of the staging file, if there is one
    const char *temp_dir_ = nullptr; // its path, where it is not the PO file's
    char temp_[name_max + 1] = "";   // its name there, if it has one
    bool named_ = false;             // whether it has that name now
    bool unnamed_ = false;           // whether it was made without a name
    bool rename_ = false;            // whether it takes the PO file's name, else is copied
    bool must_rename_ = false;       // whether it must, the other names keeping the old file
    bool shares_stdout_ = false, shares_stderr_ = false;
    const char *error_path_ = nullptr;
    const char *note_ = nullptr;
    std::optional<interrupts_held> held_; // around the commit, and after a cut
};

#endif
