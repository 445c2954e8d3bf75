// Interrupts: a run stopped by SIGINT, SIGTERM or SIGHUP stops its converter
// with the same signal and removes its temporary PO file, then ends by that
// signal, so that its caller sees how it ended.
#ifndef QUORVEL_INTERRUPT_H
#define QUORVEL_INTERRUPT_H

#include <signal.h>
#include <sys/types.h>

// Installs the handlers; a signal that the caller had ignored stays ignored.
// Resets SIGCHLD to its default, without which the converter's status is lost.
void catch_interrupts();

// What the handler cleans up: the converter (-1 for none) and the temporary
// file (null for none; the path must live until it is forgotten).
void on_interrupt_stop(pid_t pid);
void on_interrupt_remove(const char *path);

// Holds the three signals back while it lives, so that a child or file and
// the record of it come into being, or go, together.
class interrupts_held {
  public:
    interrupts_held();
    ~interrupts_held();
    interrupts_held(const interrupts_held &) = delete;
    interrupts_held &operator=(const interrupts_held &) = delete;

    // The signal mask as it was before, for a child started meanwhile.
    const sigset_t &before() const { return before_; }

  private:
    sigset_t before_;
};

#endif
