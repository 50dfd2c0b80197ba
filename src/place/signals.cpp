// The signals that end a run: what is in flight is removed first.
#include <cerrno>
#include <csignal>

#include "place/place.h"
#include "registry.h"

namespace {

constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

void onSignal(int sig) {
    placeRemoveAll();
    // Ends the program as the signal would have: it is held while its
    // handler runs, and arrives with the default action once this returns.
    signal(sig, SIG_DFL);
    raise(sig);
}

// The action the program was started with, for a signal a user may have
// asked to ignore.
bool startedIgnored(int sig) {
    struct sigaction old;
    return sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

} // namespace

void placeCatchSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigfillset(&action.sa_mask);
    for (int sig : endingSignals) {
        if (!startedIgnored(sig)) sigaction(sig, &action, nullptr);
    }
    signal(SIGXFSZ, SIG_IGN);
}

sigset_t placeHold() {
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &old);
    return old;
}

void placeRelease(const sigset_t &old) {
    const int error = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = error;
}
