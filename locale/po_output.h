// The PO output: the catalogue's file, changed only when the run succeeds.
#ifndef QUORVEL_PO_OUTPUT_H
#define QUORVEL_PO_OUTPUT_H

#include <cstdio>
#include <sys/stat.h>

// The catalogue is written to a temporary file, .NAME.XXXXXX beside the PO
// file, and put in its place only at commit, so that a failed or interrupted
// run leaves the PO file, or its absence, as it was. The temporary file
// takes the PO file's name by rename where it can stand for the old file in
// full: the same owner, mode and extended attributes. Otherwise (the file has
// more than one name, standard output or error writes to it, its folder
// takes no new file or its attributes cannot all be given) it is copied over
// the PO file at commit, which keeps the file itself; the temporary file then
// lies in $TMPDIR or /tmp if it cannot lie beside it. Anything that is not a
// regular file (a device, a FIFO) is written to as the run goes.
class po_output {
  public:
    po_output() = default;
    ~po_output();
    po_output(const po_output &) = delete;
    po_output &operator=(const po_output &) = delete;

    // Returns 0, or the errno value that keeps the PO file from being written;
    // then nothing has been created or changed.
    int open(const char *path);

    FILE *stream() const { return stream_; }

    // Whether standard output or standard error writes to the PO file itself,
    // where nothing but the catalogue may go.
    bool shares_stdout() const { return shares_stdout_; }
    bool shares_stderr() const { return shares_stderr_; }

    // Puts the catalogue in the PO file's place. Returns 0, or the errno value
    // of the first failure, after which the temporary file is gone and the PO
    // file is as it was, unless cut() says that copying over it failed.
    int commit();
    bool cut() const { return cut_; }

  private:
    // Tells whether standard output or error writes to the file st describes.
    void note_sharing(const struct stat &st);
    int open_stream(const char *path);
    // Makes the temporary file in the folder that name lies in; the mode is
    // what open gives a new file with it.
    int open_temporary(const char *name, mode_t mode);
    // Copies the temporary file, read through data, over the PO file.
    int copy_in_place(int data);
    // Removes the temporary file, if there is one.
    void discard();

    FILE *stream_ = nullptr;
    char *temp_ = nullptr;   // the temporary file, until it is renamed or removed
    char *target_ = nullptr; // the name it is renamed to; null where it is copied
    int in_place_ = -1;      // the PO file, open for the copy at commit
    bool shares_stdout_ = false, shares_stderr_ = false, cut_ = false;
};

#endif
