#include "console_loop.h"

#include <windows.h>
#include <mmsystem.h>

#include <cerrno>

namespace {

HANDLE H(intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

constexpr wchar_t kWindowClass[] = L"loopctl port messages";

// portlink posts to a window: a message-only one, whose messages the loop
// takes while it waits and hands to the loop's owner.
LRESULT CALLBACK PortWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PORTLINK_WM_PORT_NOTIFY) {
        auto *loop = reinterpret_cast<CConsoleLoop *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (loop) loop->Deliver(message, static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakePortWindow(CConsoleLoop *loop) {
    static const ATOM registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = PortWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassW(&wc);
    }();
    if (!registered) return nullptr;
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(loop));
    return window;
}

}  // namespace

CConsoleLoop::CConsoleLoop(PostHandler onPost, void *context)
    : m_onPost(onPost),
      m_context(context),
      m_wake(reinterpret_cast<intptr_t>(CreateEventW(nullptr, FALSE, FALSE, nullptr))),
      m_timer(reinterpret_cast<intptr_t>(CreateWaitableTimerW(nullptr, FALSE, nullptr))) {
    m_portWindow = MakePortWindow(this);
}

void CConsoleLoop::Deliver(uint32_t message, uint32_t wParam, int32_t lParam) {
    m_onPost(m_context, message, wParam, lParam);
}

CConsoleLoop::~CConsoleLoop() {
    if (m_portWindow) DestroyWindow(m_portWindow);
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
    // Port messages arrive as window messages: taking them hands them to the
    // owner, which wakes the event.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    HANDLE both[2] = {H(m_wake), H(m_timer)};
    const DWORD r = MsgWaitForMultipleObjects(
        2, both, FALSE, timeoutMs < 0 ? 0 : static_cast<DWORD>(timeoutMs), QS_ALLINPUT);
    if (r == WAIT_TIMEOUT || r == WAIT_OBJECT_0 + 2) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        return WaitForSingleObject(H(m_wake), 0) == WAIT_OBJECT_0 ? static_cast<unsigned>(kPosted) : 0u;
    }
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
