// Interrupts: a run stopped by a signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT and
// every other one that would end it and can be caught) stops its converter
// with the same signal and removes its temporary PO file, then ends by that
// signal, so that its caller sees how it ended. Once the PO file is in place,
// or cut short, the run's status is known, and a signal ends it with that
// status instead; the temporary file goes in every case.
#ifndef QUORVEL_INTERRUPT_H
#define QUORVEL_INTERRUPT_H

#include <signal.h>
#include <sys/types.h>

// Installs the handlers; a signal that the caller had ignored stays ignored.
// Resets SIGCHLD to its default, without which the converter's status is lost,
// and ignores SIGPIPE and SIGXFSZ, so that a reader that has gone or a
// file-size limit fails a write instead of killing the run midway. On Linux,
// holds for the whole run the real-time signals below SIGRTMIN, which end a
// process by default but which the C library keeps from any handler.
void catch_interrupts();

// The signals that catch_interrupts changed from their default to ignored,
// which a child started later must get back at their default.
const sigset_t &signals_to_restore();

// The signal mask that the run was started with, for a child.
const sigset_t &caller_signal_mask();

// What the handler cleans up: the converter (-1 for none) and the temporary
// file, name in folder (null for none; the name must live until it is
// forgotten).
void on_interrupt_stop(pid_t pid);
void on_interrupt_remove(int folder, const char *name);

// From now on an interrupt ends the run at once with this exit status.
void on_interrupt_exit(int status);

// Holds those signals back while it lives, so that a child or file and
// the record of it come into being, or go, together.
class interrupts_held {
  public:
    interrupts_held();
    ~interrupts_held();
    interrupts_held(const interrupts_held &) = delete;
    interrupts_held &operator=(const interrupts_held &) = delete;

  private:
    sigset_t before_;
};

#endif
