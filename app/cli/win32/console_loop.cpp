#include "console_loop.h"

#include <windows.h>
#include <mmsystem.h>

#include <cerrno>

namespace {
HANDLE H(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}
}  // namespace

CConsoleLoop::CConsoleLoop()
    : m_wake(reinterpret_cast<intptr_t>(CreateEventW(nullptr, FALSE, FALSE, nullptr))),
      m_timer(reinterpret_cast<intptr_t>(CreateWaitableTimerW(nullptr, FALSE, nullptr))) {}

CConsoleLoop::~CConsoleLoop() {
    StopTimer();
    if (m_timer) CloseHandle(H(m_timer));
    if (m_wake) CloseHandle(H(m_wake));
}

void CConsoleLoop::Wake() {
    SetEvent(H(m_wake));
}

unsigned CConsoleLoop::Wait(int timeoutMs) {
    if (!m_wake || !m_timer) {
        errno = ENOMEM;
        return kFailed;
    }
    HANDLE both[2] = {H(m_wake), H(m_timer)};
    const DWORD r = WaitForMultipleObjects(2, both, FALSE,
                                           timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs));
    if (r == WAIT_TIMEOUT) return 0;
    if (r != WAIT_OBJECT_0 && r != WAIT_OBJECT_0 + 1) {
        errno = EIO;
        return kFailed;
    }
    unsigned result = r == WAIT_OBJECT_0 ? kPosted : kTimer;
    // Both may be due: take the other one too, without waiting.
    if (result == kPosted && WaitForSingleObject(H(m_timer), 0) == WAIT_OBJECT_0) result |= kTimer;
    if (result == kTimer && WaitForSingleObject(H(m_wake), 0) == WAIT_OBJECT_0) result |= kPosted;
    return result;
}

bool CConsoleLoop::StartTimer(unsigned firstMs, unsigned periodMs) {
    // The system's default tick is 15.6 ms; a 2 ms timer needs the fine one,
    // and only while it runs.
    if (!m_fineTimer) m_fineTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
    LARGE_INTEGER due;
    due.QuadPart = -static_cast<LONGLONG>(firstMs) * 10000;  // relative, in 100 ns
    if (due.QuadPart == 0) due.QuadPart = -1;
    return SetWaitableTimer(H(m_timer), &due, static_cast<LONG>(periodMs), nullptr, nullptr,
                            FALSE) != 0;
}

void CConsoleLoop::StopTimer() {
    if (m_timer) CancelWaitableTimer(H(m_timer));
    if (m_fineTimer) timeEndPeriod(1);
    m_fineTimer = false;
}
