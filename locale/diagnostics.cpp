// Diagnostics: the lines of a strings file that the reader passed over.
#include "diagnostics.h"

#include <csignal>
#include <cstdarg>
#include <cstdio>

namespace {

const long long shown_at_most = 100;

// Writes to standard error, ignoring SIGPIPE meanwhile: a reader of standard
// error that has gone away must not end the run.
__attribute__((format(printf, 1, 2))) void warn(const char *format, ...) {
    struct sigaction ignore = {}, before;
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &before);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    sigaction(SIGPIPE, &before, nullptr);
}

const char *message(passed_over why) {
    switch (why) {
    case passed_over::key_not_closed:
        return "key not closed: line passed over";
    case passed_over::no_value:
        return "no value after the key: line passed over";
    case passed_over::value_not_closed:
        return "value not closed: line passed over (a value cannot go on over several lines)";
    case passed_over::indented:
        return "entry does not begin its line: line passed over";
    case passed_over::unquoted_key:
        return "key not quoted: line passed over";
    case passed_over::too_long:
        break;
    }
    return "line too long";
}

} // namespace

strings_position diagnostics::position() {
    strings_position position;
    position.passed = passed;
    position.context = this;
    return position;
}

void diagnostics::passed(void *self, long long line, passed_over why) {
    auto *d = static_cast<diagnostics *>(self);
    if (d->shown_ == shown_at_most) {
        d->hidden_++;
    } else {
        d->shown_++;
        if (why == passed_over::too_long)
            warn("%s:%lld: line longer than %zu bytes: entries in it may be lost\n", d->path_, line,
                 d->line_size_);
        else
            warn("%s:%lld: %s\n", d->path_, line, message(why));
    }
}

void diagnostics::finish() {
    if (hidden_ > 0)
        warn("%s: %lld more lines passed over\n", path_, hidden_);
}
