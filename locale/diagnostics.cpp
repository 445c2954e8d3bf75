// Diagnostics: the lines of a strings file that the reader passed over, and
// the pairs written fuzzy since msgfmt would refuse them.
#include "diagnostics.h"

#include "message.h"

#include <cstdio>

namespace {

const long long shown_at_most = 100;

const char *message(passed_over why) {
    switch (why) {
    case passed_over::key_not_closed:
        return "key not closed: line passed over";
    case passed_over::no_value:
        return "no value after the key: line passed over";
    case passed_over::value_on_next_line:
        return "no value after the key: line passed over (a value cannot go on over several "
               "lines)";
    case passed_over::value_not_closed:
        return "value not closed: line passed over (a value cannot go on over several lines)";
    case passed_over::indented:
        return "entry does not begin its line: line passed over";
    case passed_over::unquoted_key:
        return "key not quoted: line passed over";
    case passed_over::after_comment:
        return "entry after a comment on its line: line passed over";
    case passed_over::key_begins_with_newline:
        return "the key begins with a newline and the value does not";
    case passed_over::value_begins_with_newline:
        return "the value begins with a newline and the key does not";
    case passed_over::key_ends_with_newline:
        return "the key ends with a newline and the value does not";
    case passed_over::value_ends_with_newline:
        return "the value ends with a newline and the key does not";
    case passed_over::comment_not_closed:
        return "comment not closed: every line after it passed over";
    case passed_over::empty_key:
        return "empty key: gettext takes msgid \"\" for the catalogue's header";
    case passed_over::too_long:
        break;
    }
    static_assert(longest_line == 8191, "the reader takes lines of 8191 bytes whole");
    return "line longer than 8191 bytes: entries in it may be lost";
}

} // namespace

strings_position diagnostics::position() {
    strings_position position;
    position.passed = passed;
    position.context = this;
    return position;
}

void diagnostics::passed(void *self, long long line, passed_over why, bool cut) {
    auto *d = static_cast<diagnostics *>(self);
    if (cut) {
        d->cut_line_ = line;
        d->cut_why_ = why;
    } else {
        d->tell(line, why);
    }
}

void diagnostics::tell(long long line, passed_over why) {
    if (quiet_)
        return;
    if (shown_ == shown_at_most) {
        hidden_++;
    } else {
        shown_++;
        bool fuzzy = why >= passed_over::key_begins_with_newline && why != passed_over::empty_key;
        put(stderr, {path_, ":", decimal(line).str(), ": ", message(why),
                     fuzzy ? ": marked fuzzy, which msgfmt leaves out\n" : "\n"});
    }
}

void diagnostics::finish(bool converted, const strings_position &read, long long entries,
                         bool piped) {
    if (cut_line_ != 0 && converted)
        tell(cut_line_, cut_why_);
    if (read.comment != 0 && converted)
        tell(read.comment, passed_over::comment_not_closed);
    if (hidden_ > 0)
        put(stderr, {path_, ": ", decimal(hidden_).str(), " more lines passed over\n"});
    if (converted && read.line > 0 && entries == 0 && shown_ == 0 && !quiet_)
        put(stderr, {path_, read.property_list ? ": an XML property list, not read" : "",
                     ": no entries found", piped ? " (a pipe is read as UTF-16)\n" : "\n"});
}
