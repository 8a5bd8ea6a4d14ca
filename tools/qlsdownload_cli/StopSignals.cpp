#include "StopSignals.h"

#include <pthread.h>
#include <unistd.h>

namespace {

// SIGUSR1 only wakes the watcher when it is to end.
sigset_t WatchedSignals()
{
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGINT);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGUSR1);
    return watched;
}

} // namespace

void StopSignals::Block()
{
    const sigset_t watched = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
}

StopSignals::StopSignals(HWND target, UINT message) : target_(target), message_(message)
{
    Block();
    thread_ = std::thread(&StopSignals::Watch, this);
}

StopSignals::~StopSignals()
{
    closing_ = true;
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
}

void StopSignals::Watch()
{
    const sigset_t watched = WatchedSignals();
    bool posted = false;
    for (;;) {
        int signal = 0;
        if (sigwait(&watched, &signal) != 0)
            continue;
        if (signal == SIGUSR1) {
            if (closing_)
                return;
            continue;
        }
        if (posted)
            _exit(128 + signal);
        posted = true;
        PostMessageA(target_, message_, 0, signal);
    }
}
