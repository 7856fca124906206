#include "console_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

CConsoleLoop::CConsoleLoop(PostHandler onPost, void *context)
    : m_onPost(onPost),
      m_context(context),
      m_portWindow(new PortlinkWindow{onPost, context}),
      m_wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_timer(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)) {}

void CConsoleLoop::Deliver(uint32_t message, uint32_t wParam, int32_t lParam) {
    m_onPost(m_context, message, wParam, lParam);
}

CConsoleLoop::~CConsoleLoop() {
    delete m_portWindow;
    if (static_cast<int>(m_timer) >= 0) close(static_cast<int>(m_timer));
    if (static_cast<int>(m_wake) >= 0) close(static_cast<int>(m_wake));
}

void CConsoleLoop::Wake() {
    const uint64_t one = 1;
    // Never blocks: the counter would have to reach 2^64 - 1 first.
    [[maybe_unused]] ssize_t n = write(static_cast<int>(m_wake), &one, sizeof one);
}

unsigned CConsoleLoop::Wait(int timeoutMs) {
    if (static_cast<int>(m_wake) < 0 || static_cast<int>(m_timer) < 0) {
        errno = EMFILE;
        return kFailed;
    }
    pollfd fds[2] = {{static_cast<int>(m_wake), POLLIN, 0},
                     {static_cast<int>(m_timer), POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready < 0) return errno == EINTR ? 0u : static_cast<unsigned>(kFailed);
    unsigned result = 0;
    uint64_t count;
    if ((fds[0].revents & POLLIN) && read(static_cast<int>(m_wake), &count, sizeof count) > 0) result |= kPosted;
    if ((fds[1].revents & POLLIN) && read(static_cast<int>(m_timer), &count, sizeof count) > 0) result |= kTimer;
    return result;
}

bool CConsoleLoop::StartTimer(unsigned firstMs, unsigned periodMs) {
    itimerspec when{};
    when.it_interval.tv_sec = periodMs / 1000;
    when.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    when.it_value.tv_sec = firstMs / 1000;
    when.it_value.tv_nsec = static_cast<long>(firstMs % 1000) * 1000000L;
    // A zero first expiry would disarm the timer: the soonest is 1 ns.
    if (firstMs == 0) when.it_value.tv_nsec = 1;
    return timerfd_settime(static_cast<int>(m_timer), 0, &when, nullptr) == 0;
}

void CConsoleLoop::StopTimer() {
    itimerspec off{};
    timerfd_settime(static_cast<int>(m_timer), 0, &off, nullptr);
}
