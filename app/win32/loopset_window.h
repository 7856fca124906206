// The main dialog as a Win32 dialog from its resource template: shows
// CLoopsetDlg's fields and log, forwards button clicks, timer ticks and
// portlink's posted notifications to it, and shows its message boxes.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "box_gate.h"
#include "loopset_dlg.h"
#include "loopset_view.h"

// Private messages of the window (WM_APP range: nothing else sends them).
inline constexpr UINT kMsgRunBoxes = WM_APP + 1;
inline constexpr UINT kMsgFirstTick = WM_APP + 2;

class CLoopsetWindow : public ILoopsetView {
public:
    // settingsPath and api go to CLoopsetDlg unchanged.
    explicit CLoopsetWindow(std::string settingsPath = {}, const PortlinkApi &api = RealPortlink());
    ~CLoopsetWindow() override;
    CLoopsetWindow(const CLoopsetWindow &) = delete;
    CLoopsetWindow &operator=(const CLoopsetWindow &) = delete;

    // What a modal dialog's start does: create the window from its template
    // (OnInitDialog runs inside), show it, and run the loop until it ends.
    int RunModal();
    // The window alone, created and shown, for a host that runs its own loop.
    bool Create();
    // One message of the loop: portlink's notification to the dialog first,
    // then the dialog's keyboard handling, then the window procedure.
    void HandleMessage(MSG &msg);
    // The loop's result once the dialog has ended.
    std::optional<int> Ended() const { return m_endedResult; }

    HWND Hwnd() const { return m_hwnd; }
    // Called (on the UI thread) after each processed response.
    using ResponseHook = std::function<void(const ResponseOutcome &)>;
    void SetResponseHook(ResponseHook hook) { m_responseHook = std::move(hook); }
    CLoopsetDlg &Dialog() { return *m_dlg; }

    // ILoopsetView
    void ShowWarning(const std::string &text) override;
    void ShowError(const std::string &caption, const std::string &text) override;
    std::string GetFieldText(int id) override;
    void SetFieldText(int id, const std::string &text) override;
    int GetPortSelection() override;
    void SetPortSelection(int index) override;
    void SetLogText(const std::string &text) override;
    void ScrollLogToEnd() override;
    void SetIcons() override;
    using ILoopsetView::StartTimer;
    void StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) override;
    void StopTimer(unsigned id) override;
    void EndDialog(int result) override;
    PortlinkWindow *PortWindow() override { return m_hwnd; }
    void OnResponse(const ResponseOutcome &outcome) override {
        if (m_responseHook) m_responseHook(outcome);
    }

private:
    struct Box {
        bool warning;
        std::wstring caption;
        std::wstring text;
    };
    struct TimerState {
        unsigned periodMs = 0;
        unsigned firstMs = 0;
        // Counts starts and stops, so that a first tick posted before a stop
        // or a restart is recognised as stale when it arrives.
        unsigned generation = 0;
        bool running = false;
    };

    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnTimerMessage(unsigned id);
    void OnPaint();
    void ShowBox(bool warning, std::wstring caption, std::wstring text);
    void RunBox(bool warning, const std::wstring &caption, const std::wstring &text);
    void RunPendingBoxes();
    static WindowMessage ToWindowMessage(const MSG &msg);

    HWND m_hwnd = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    DWORD m_uiThread = GetCurrentThreadId();
    std::map<unsigned, TimerState> m_timers;
    std::optional<int> m_endedResult;
    ResponseHook m_responseHook;
    std::shared_ptr<CBoxGate<Box>> m_boxGate = std::make_shared<CBoxGate<Box>>();
    // Last: it closes its port (and stops portlink's listener) before the
    // window that the listener posts to goes away.
    std::unique_ptr<CLoopsetDlg> m_dlg;
};

// The application's title: the program's file name without its extension.
std::wstring ApplicationTitle();
