// The PO output: the catalogue's file, replaced only when the run succeeds.
#ifndef QUORVEL_PO_OUTPUT_H
#define QUORVEL_PO_OUTPUT_H

#include <cstdio>
#include <sys/stat.h>

// A regular PO file, or one that does not exist yet, is written as a
// temporary file beside it (.NAME.XXXXXX) that takes its place only at
// commit, so that a failed or interrupted run leaves the old one as it was.
// Written in place, as a plain "w" open does: anything that is not a regular
// file (a device, a FIFO), a file with more than one name, the file that
// standard output already writes to, and a file whose folder takes no
// temporary file.
class po_output {
  public:
    po_output() = default;
    ~po_output();
    po_output(const po_output &) = delete;
    po_output &operator=(const po_output &) = delete;

    // Returns 0, or the errno value that kept the PO file from opening.
    int open(const char *path);

    FILE *stream() const { return stream_; }

    // Closes the stream and puts the temporary file in the PO file's place.
    // Returns 0, or the errno value of the first failure, after which the
    // temporary file is gone.
    int commit();

  private:
    // Makes the temporary file beside target, with the mode and owner of the
    // old file where there is one.
    int open_temporary(const char *target, const struct stat *old);
    // Removes the temporary file, if there is one.
    void discard();

    FILE *stream_ = nullptr;
    char *temp_ = nullptr;   // the temporary file, until it is renamed
    char *target_ = nullptr; // where it goes: the path, or the file a link names
};

#endif
