// A host window for the tests on Windows: a message-only window of the thread
// that makes the recorder, whose posted messages the recorder collects when
// it is asked (so that thread pumps them, as a host's window thread would).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <tuple>
#include <vector>

namespace portlink::test {

using Posted = std::tuple<uint32_t, uint32_t, int32_t>;  // message, wparam, lparam

class Recorder {
public:
    Recorder() {
        static const ATOM kind = [] {
            WNDCLASSW wc{};
            wc.lpfnWndProc = DefWindowProcW;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.lpszClassName = L"portlink_test_recorder";
            return RegisterClassW(&wc);
        }();
        m_hwnd = CreateWindowExW(0, MAKEINTATOM(kind), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    }
    ~Recorder() { DestroyWindow(m_hwnd); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    HWND Handle() const { return m_hwnd; }
    std::vector<Posted> All() {
        Pump();
        return m_posted;
    }
    size_t Count() { return All().size(); }
    bool WaitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            Pump();
            if (m_posted.size() >= n) return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()),
                                      QS_POSTMESSAGE);
        }
    }

private:
    void Pump() {
        MSG msg;
        while (PeekMessageW(&msg, m_hwnd, 0, 0, PM_REMOVE)) {
            if (msg.message >= WM_USER) {
                m_posted.emplace_back(msg.message, static_cast<uint32_t>(msg.wParam),
                                      static_cast<int32_t>(msg.lParam));
            }
        }
    }
    HWND m_hwnd = nullptr;
    std::vector<Posted> m_posted;
};

}  // namespace portlink::test
