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
#include "calibration_window.h"
#include "live_view_window.h"
#include "loopset_dlg.h"
#include "loopset_view.h"

// Private messages of the window (WM_APP range: nothing else sends them).
inline constexpr UINT kMsgRunBoxes = WM_APP + 1;
inline constexpr UINT kMsgFirstTick = WM_APP + 2;

// The commands added to the dialog's system menu (below the system's own
// 0xF000 and multiples of 16, as WM_SYSCOMMAND requires), with their
// shortcuts Ctrl+L, Ctrl+K, Ctrl+S and Ctrl+O.
inline constexpr UINT kCmdLiveView = 0x0010;
inline constexpr UINT kCmdSaveConfig = 0x0020;
inline constexpr UINT kCmdLoadConfig = 0x0030;
inline constexpr UINT kCmdCalibration = 0x0040;
// The button beside the credit line that names them too (a menu).
inline constexpr int kIdCommandsButton = 1100;

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
    // then the menu's shortcuts, then the keyboard handling of the dialog,
    // the live view and the calibration, then the window procedure.
    void HandleMessage(MSG &msg);
    // The loop's result once the dialog has ended.
    std::optional<int> Ended() const { return m_endedResult; }

    HWND Hwnd() const { return m_hwnd; }
    // Called (on the UI thread) after each processed response, the live
    // view's included.
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
    void OnResponse(const ResponseOutcome &outcome) override;
    const ITexts &Texts() override;

    // The button that names the further commands (a menu of them), and the
    // tooltip that tells them over it and over the credit line.
    HWND CommandsButton() const { return m_commandsButton; }
    HWND CommandsTip() const { return m_commandsTip; }

    // The live view's window (made when first opened), and the system menu's
    // commands, which their shortcuts run too.
    CLiveViewWindow *LiveViewWindow() const { return m_liveWindow.get(); }
    void OpenLiveView();
    // The calibration's window likewise; it works through the dialog's
    // device session.
    CCalibrationWindow *CalibrationWindow() const { return m_calibrationWindow.get(); }
    void OpenCalibration();
    // Fill the eight configuration fields from a file, or save them to one
    // (UTF-8 paths); false with the dialog's warning box when that cannot be
    // done.
    bool LoadConfiguration(const std::string &path);
    bool SaveConfiguration(const std::string &path);

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
    // The further commands, with their shortcuts, at the end of menu.
    void AppendCommands(HMENU menu);
    // Names the commands beside the credit line: the button and its tooltip.
    void AddCommandsButton();
    void ShowCommandsMenu();
    // A system menu command; false for one of the system's own.
    bool RunCommand(UINT id);
    // The command a key press is a shortcut for, or 0.
    UINT ShortcutOf(const MSG &msg) const;
    // A file chosen in the common dialog (UTF-8), or empty when cancelled.
    std::string AskConfigPath(bool save);
    void OnPaint();
    void ShowBox(bool warning, std::wstring caption, std::wstring text);
    void RunBox(bool warning, const std::wstring &caption, const std::wstring &text);
    void RunPendingBoxes();
    static WindowMessage ToWindowMessage(const MSG &msg);

    HWND m_hwnd = nullptr;
    HWND m_commandsButton = nullptr, m_commandsTip = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    DWORD m_uiThread = GetCurrentThreadId();
    std::map<unsigned, TimerState> m_timers;
    std::optional<int> m_endedResult;
    ResponseHook m_responseHook;
    std::shared_ptr<CBoxGate<Box>> m_boxGate = std::make_shared<CBoxGate<Box>>();
    // Last but for the live view and the calibration: it closes its port
    // (and stops portlink's listener) before the window that the listener
    // posts to goes away.
    std::unique_ptr<CLoopsetDlg> m_dlg;
    // Use the dialog: go first, the window before the view it draws.
    std::unique_ptr<CLiveView> m_live;
    std::unique_ptr<CLiveViewWindow> m_liveWindow;
    // Uses the dialog's session: goes first too.
    std::unique_ptr<CCalibrationWindow> m_calibrationWindow;
};

// The application's title: the program's file name without its extension.
std::wstring ApplicationTitle();
