// The console's message loop: sleeps in the kernel until a port message is
// posted, the timer is due, or the wait's time-out passes. One twin per
// system implements it.
#pragma once

#include <cstdint>

#include "portlink.h"

class CConsoleLoop {
public:
    enum : unsigned { kPosted = 1, kTimer = 2, kFailed = 4 };
    // Called with every message portlink posts to the loop's window: on
    // the listener's thread where the system calls a post function, on the
    // loop's own thread where it queues window messages.
    using PostHandler = void (*)(void *context, uint32_t message, uint32_t wParam, int32_t lParam);

    CConsoleLoop(PostHandler onPost, void *context);
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
    // The window portlink posts to; it lives as long as the loop.
    PortlinkWindow *PortWindow() const { return m_portWindow; }
    // Hands one port message to the owner (for the system's window procedure).
    void Deliver(uint32_t message, uint32_t wParam, int32_t lParam);

private:
    PostHandler m_onPost;
    void *m_context;
    PortlinkWindow *m_portWindow = nullptr;
    // File descriptors or handles, whichever the system gives.
    intptr_t m_wake;
    intptr_t m_timer;
    bool m_fineTimer = false;
};
