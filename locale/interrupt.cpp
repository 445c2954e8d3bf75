// Interrupts: cleaning up after any signal that would end the run.
#include "interrupt.h"

#include <cerrno>
#include <initializer_list>
#include <unistd.h>
#ifdef __linux__
#include <sys/syscall.h>
#endif

namespace {

// Every signal whose default is to end the process and that can be caught,
// but SIGPIPE and SIGXFSZ, which are ignored: a write then fails instead;
// and the real-time ones below.
const int interrupts[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,    SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGSYS,  SIGPROF, SIGVTALRM,
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

// Read by the handler, so plain values that it can take at any moment.
volatile pid_t stop_pid = -1;
volatile int remove_folder = -1;
const char *volatile remove_name = nullptr;
volatile sig_atomic_t exit_status = -1;

// The signals to restore for a child, the caller's mask, and the signals
// handled, each set once by catch_interrupts.
sigset_t restore, caller_mask, handled;

// The signals handled: those above and the real-time ones, which end a
// process too, and whose numbers are known only when the tool runs.
void find_handled() {
    sigemptyset(&handled);
    for (int sig : interrupts)
        sigaddset(&handled, sig);
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; sig++)
        sigaddset(&handled, sig);
#endif
}

// The real-time signals below SIGRTMIN (32 and 33 with glibc, 32 to 34 with
// musl) end the run, with nothing cleaned up, but the C library keeps them
// for its threads, of which this program starts none: it takes no handler for
// them, and its calls on the signal mask leave them as they are, or unblock
// them. On Linux, the mask is changed as the kernel takes it, so that they
// stay held once blocked.
#if defined(__linux__) && defined(SIGRTMIN) && defined(SYS_rt_sigprocmask)
// The kernel's mask: a bit for each signal up to the last, in words of 64.
const size_t kernel_mask_size = (_NSIG - 1 + 63) / 64 * 8;

// Leaves errno as it was, for the caller's own failure that may come before.
void change_mask(int how, const void *set, sigset_t *old) {
    int err = errno;
    syscall(SYS_rt_sigprocmask, how, set, old, kernel_mask_size);
    errno = err;
}

// Blocks them; the kernel's mask has a bit for signal n at n - 1, in words of
// a long.
void hold_library_signals() {
    const int bits = 8 * sizeof(unsigned long);
    unsigned long set[kernel_mask_size / sizeof(unsigned long)] = {};
    for (int sig = 32; sig < SIGRTMIN; sig++)
        set[(sig - 1) / bits] |= 1ul << (sig - 1) % bits;
    change_mask(SIG_BLOCK, set, nullptr);
}
#else
void change_mask(int how, const sigset_t *set, sigset_t *old) {
    sigprocmask(how, set, old);
}

void hold_library_signals() {}
#endif

// Handles one signal of the set, but where the caller ignores it.
void handle(int sig, const struct sigaction &action) {
    struct sigaction old;
    if (sigaction(sig, &action, &old) == 0 && old.sa_handler == SIG_IGN)
        sigaction(sig, &old, nullptr);
}

// Cleans up with async-signal-safe calls only, then ends the process with
// the status set, or else by the same signal: it is held until the handler
// returns, and then kills.
extern "C" void on_interrupt(int sig) {
    if (remove_name != nullptr)
        unlinkat(remove_folder, remove_name, 0);
    if (exit_status != -1)
        _exit(exit_status);
    if (stop_pid > 0)
        kill(stop_pid, sig);
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

void catch_interrupts() {
    find_handled();
    sigprocmask(SIG_BLOCK, nullptr, &caller_mask);
    hold_library_signals();
    signal(SIGCHLD, SIG_DFL);
    sigemptyset(&restore);
    struct sigaction ignore = {}, old;
    ignore.sa_handler = SIG_IGN;
    for (int sig : {SIGPIPE, SIGXFSZ})
        if (sigaction(sig, &ignore, &old) == 0 && old.sa_handler == SIG_DFL)
            sigaddset(&restore, sig);
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    action.sa_mask = handled;
    // One call a signal; the few that the caller ignores get that back, and
    // one that comes meanwhile waits, to be dropped if it is one of those.
    interrupts_held held;
    for (int sig = 1; sig < NSIG; sig++)
        if (sigismember(&handled, sig) == 1)
            handle(sig, action);
}

const sigset_t &signals_to_restore() {
    return restore;
}

const sigset_t &caller_signal_mask() {
    return caller_mask;
}

void on_interrupt_stop(pid_t pid) {
    stop_pid = pid;
}

void on_interrupt_remove(int folder, const char *name) {
    remove_folder = folder;
    remove_name = name;
}

void on_interrupt_exit(int status) {
    exit_status = status;
}

interrupts_held::interrupts_held() {
    change_mask(SIG_BLOCK, &handled, &before_);
}

interrupts_held::~interrupts_held() {
    change_mask(SIG_SETMASK, &before_, nullptr);
}
