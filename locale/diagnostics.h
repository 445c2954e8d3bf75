// Diagnostics: the lines of a strings file that the reader passed over, and
// the pairs written fuzzy since msgfmt would refuse them, told on standard
// error in the form of compilers and gettext's tools.
#ifndef QUORVEL_DIAGNOSTICS_H
#define QUORVEL_DIAGNOSTICS_H

#include "strings_reader.h"

#include <cstddef>

// Tells "PATH:LINE: message" for each line passed over, at most 100 in a
// run, and at the end how many more there were. They are warnings only: one
// that cannot be written changes nothing else (SIGPIPE is ignored).
class diagnostics {
  public:
    // quiet: tell nothing, as where standard error writes to the PO file.
    diagnostics(const char *path, bool quiet) : path_(path), quiet_(quiet) {}
    ~diagnostics() = default;
    diagnostics(const diagnostics &) = delete;
    diagnostics &operator=(const diagnostics &) = delete;

    // Where the reader tells of passed-over lines.
    strings_position position();

    // Tells of a last line cut short by the end of the text, and of a
    // comment that it left open, where the text was converted in full, then
    // how many lines were passed over beyond the cap. A line that a failed conversion cut off is no
    // fault of the file. Where lines were read but none held an entry or was told of, says that
    // nothing was found, and why where the text is an XML property list;
    // piped: the text came from a pipe, read as UTF-16.
    void finish(bool converted, const strings_position &read, long long entries, bool piped);

  private:
    static void passed(void *self, long long line, passed_over why, bool cut);
    void tell(long long line, passed_over why);

    const char *path_;
    bool quiet_;
    long long shown_ = 0, hidden_ = 0;
    long long cut_line_ = 0; // the last line, held back until the end
    passed_over cut_why_ = passed_over::too_long;
};

#endif
