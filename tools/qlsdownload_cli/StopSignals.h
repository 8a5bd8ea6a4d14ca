// Turns SIGINT and SIGTERM into a message posted to a window, so that the
// window's thread stops the download in its own time, with the library's
// lock and files in order. A second signal, while the first one is still
// being handled, ends the process at once.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

#include <windows.h>

class StopSignals {
public:
    // Blocks the signals in the calling thread, so that every thread started
    // after this (the platform layer's and the library's) leaves them to the
    // watcher: call it first thing in main(), before any thread exists.
    static void Block();

    // Starts watching; signals that came since Block() are posted now.
    StopSignals(HWND target, UINT message);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void Watch();

    HWND target_;
    UINT message_;
    std::atomic<bool> closing_{false};
    std::thread thread_;
};
