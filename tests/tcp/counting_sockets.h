// The system's socket calls with counters in front: how many sockets,
// connects and sends the link made, which threads received, and how many
// receives ended. Everything still goes over real loopback sockets.
#pragma once

#include <atomic>
#include <functional>

#include "socket_api.h"

struct SocketCounts {
    std::atomic<int> sockets{0}, connects{0}, sends{0}, closes{0}, receiveEnds{0};
    std::atomic<long long> bytesReceived{0};
    // Makes every connect report "already connected" after connecting for real.
    std::atomic<bool> connectAnswersIsConn{false};
    // Runs inside the first send call (before it), on the send worker.
    std::function<void()> beforeFirstSend;

    // Threads that called recv: a thread's id may be reused by a later
    // thread, so each thread counts itself once through a thread_local mark.
    std::atomic<int> receiveThreads{0};
};

SocketCounts &Counts();
void ResetCounts();
const SocketApi &CountingSockets();
