// The console's message loop: sleeps in the kernel until a port message is
// posted, the timer is due, or the wait's time-out passes. One twin per
// system implements it.
#pragma once

#include <cstdint>

class CConsoleLoop {
public:
    enum : unsigned { kPosted = 1, kTimer = 2, kFailed = 4 };

    CConsoleLoop();
    ~CConsoleLoop();
    CConsoleLoop(const CConsoleLoop &) = delete;
    CConsoleLoop &operator=(const CConsoleLoop &) = delete;

    // Wakes a Wait: callable from any thread, never blocks.
    void Wake();
    // Waits at most timeoutMs; returns what is ready (0 when the time-out
    // passed), kFailed with errno set when waiting failed.
    unsigned Wait(int timeoutMs);
    // Ticks every periodMs from now on, the first after firstMs; a late
    // loop gets one tick for the periods it missed, as a window's timer.
    bool StartTimer(unsigned firstMs, unsigned periodMs);
    void StopTimer();

private:
    // File descriptors or handles, whichever the system gives.
    intptr_t m_wake;
    intptr_t m_timer;
    bool m_fineTimer = false;
};
