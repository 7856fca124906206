// The Win32 dialog's twin of the driver, run under Wine against the simulated
// device on COM<LOOPSET_COM> (see tests/windows-dialog/with_display.sh).
#include "window_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "settings.h"
#include "text_utf16.h"
#include "win32_texts.h"

namespace {

std::string TextOf(HWND hwnd) {
    wchar_t text[4096] = {};
    GetWindowTextW(hwnd, text, 4096);
    return Utf16ToUtf8(text);
}

// Records each box as it becomes active, and closes it.
std::vector<CWindowDriver::Box> *g_boxes;
HWND g_owner;
LRESULT CALLBACK CatchBox(int code, WPARAM wParam, LPARAM lParam) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    if (const HWND text = code == HCBT_ACTIVATE ? GetDlgItem(box, 0xFFFF) : nullptr) {
        g_boxes->push_back({TextOf(text), GetWindow(box, GW_OWNER) == g_owner &&
                                              Utf8ToUtf16(TextOf(box)) == ApplicationTitle()});
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class CWin32WindowDriver : public CWindowDriver {
public:
    CWin32WindowDriver(const std::string &settingsPath, int port)
        : m_window(settingsPath), m_port(port) {
        g_boxes = &boxes;
        EXPECT_TRUE(m_window.Create());
        g_owner = m_window.Hwnd();
        PumpUntil([] { return false; }, 0);
    }
    ~CWin32WindowDriver() override { UnhookWindowsHookEx(m_hook); }
    CLoopsetWindow &Window() override { return m_window; }
    int SimPort() override { return m_port; }
    // with_display.sh maps the device's port alone.
    int AbsentPort() override { return m_port == 30 ? 29 : 30; }

    Rect Map(const Rect &du) override {
        // The system places a control at its mapped origin with its mapped size.
        RECT r{du.x, du.y, du.width, du.height};
        MapDialogRect(m_window.Hwnd(), &r);
        return {r.left, r.top, r.right, r.bottom};
    }
    Rect Geometry(size_t index) override {
        RECT r;
        GetWindowRect(Item(index), &r);
        MapWindowPoints(nullptr, m_window.Hwnd(), reinterpret_cast<POINT *>(&r), 2);
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    std::string Text(size_t index) override { return TextOf(Item(index)); }
    bool Shown(size_t index) override {
        return IsWindowVisible(Item(index)) && IsWindowEnabled(Item(index));
    }

    void Press(int id) override { SendMessageW(GetDlgItem(m_window.Hwnd(), id), BM_CLICK, 0, 0); }
    void Focus(int id) override { SetFocus(GetDlgItem(m_window.Hwnd(), id)); }
    int FocusId() override {
        // The port selector's edit field has the focus on the selector's behalf.
        HWND at = GetFocus();
        while (at && GetParent(at) != m_window.Hwnd()) at = GetParent(at);
        return at ? GetDlgCtrlID(at) : 0;
    }
    void Key(WindowKey key) override {
        static const WPARAM keys[] = {VK_TAB, VK_RETURN, VK_ESCAPE, 'L', 'K'};
        // The shortcut's Ctrl is held in the thread's key state.
        BYTE state[256] = {};
        state[VK_CONTROL] = key >= WindowKey::LiveView ? 0x80 : 0;
        SetKeyboardState(state);
        PostMessageW(GetFocus(), WM_KEYDOWN, keys[int(key)], 1);
        PumpUntil([] { return false; }, 0);
        state[VK_CONTROL] = 0;
        SetKeyboardState(state);
    }
    std::optional<int> Ended() override {
        return IsWindowVisible(m_window.Hwnd()) ? std::nullopt : m_window.Ended();
    }
    bool LogAtEnd() override {
        const HWND log = GetDlgItem(m_window.Hwnd(), IDC_LOG);
        DWORD end = 0;
        SendMessageW(log, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&end));
        return end == static_cast<DWORD>(GetWindowTextLengthW(log));
    }
    bool PumpUntil(const std::function<bool()> &done, int ms) override {
        const ULONGLONG end = GetTickCount64() + ms;
        for (MSG msg; !done();) {
            if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                m_ticks += msg.message == WM_TIMER && msg.hwnd == m_window.Hwnd();
                m_window.HandleMessage(msg);
            } else if (GetTickCount64() >= end) {
                return false;
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            }
        }
        return true;
    }
    bool Ticking() override {
        // A running timer ticks many times in a fifth of a second.
        m_ticks = 0;
        PumpUntil([] { return false; }, 200);
        return m_ticks > 1;
    }
    void LiveCapture(int channel, bool twentyMilliamps) override {
        SendMessageW(Live()->CaptureButton(channel, twentyMilliamps), BM_CLICK, 0, 0);
    }
    std::string LiveValue(int channel) override { return TextOf(Live()->ValueLabel(channel)); }
    void LiveClose() override { SendMessageW(Live()->Hwnd(), WM_CLOSE, 0, 0); }
    void CalType(CalText field, const std::string &text) override {
        const std::wstring wide = Utf8ToUtf16(text);
        if (field == CalText::Channel)
            SendMessageW(Cal()->Control(field), CB_SELECTSTRING, WPARAM(-1), LPARAM(wide.c_str()));
        else
            SetWindowTextW(Cal()->Control(field), wide.c_str());
    }
    void CalPress(CalText button) override {
        // As a click: a disabled button does nothing.
        if (IsWindowEnabled(Cal()->Control(button)))
            SendMessageW(Cal()->Control(button), BM_CLICK, 0, 0);
    }
    std::string CalShown(CalLine line) override {
        const HWND shown[] = {Cal()->PromptLabel(), Cal()->VerdictLabel(),
                              Cal()->Control(CalText::Folder), Cal()->SavedLabel()};
        return TextOf(shown[int(line)]);
    }
    std::vector<CalRow> CalTable() override {
        const HWND table = Cal()->Table();
        std::vector<CalRow> rows(size_t(SendMessageW(table, LVM_GETITEMCOUNT, 0, 0)));
        for (size_t r = 0; r < rows.size(); ++r) {
            for (size_t c = 0; c < rows[r].size(); ++c) {
                wchar_t text[256] = {};
                LVITEMW item = {};
                item.iSubItem = int(c);
                item.pszText = text;
                item.cchTextMax = 256;
                SendMessageW(table, LVM_GETITEMTEXTW, r, LPARAM(&item));
                rows[r][c] = Utf16ToUtf8(text);
            }
        }
        return rows;
    }
    std::vector<std::string> Texts() override {
        // Each window, then its controls.
        std::vector<std::string> texts;
        for (const HWND hwnd : {m_window.Hwnd(), Live()->Hwnd(), Cal()->Hwnd()})
            for (HWND c = hwnd; c;
                 c = c == hwnd ? GetWindow(c, GW_CHILD) : GetWindow(c, GW_HWNDNEXT))
                texts.push_back(TextOf(c));
        const HMENU menu = GetSystemMenu(m_window.Hwnd(), FALSE);
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t item[256] = {};
            GetMenuStringW(menu, UINT(i), item, 256, MF_BYPOSITION);
            texts.push_back(Utf16ToUtf8(item).substr(0, Utf16ToUtf8(item).find('\t')));
        }
        return texts;
    }
    void SimControl(const std::string &line) override {
        // with_display.sh --sim-control: the FIFO's path, as Wine names it.
        const char *path = std::getenv("LOOPSET_SIM_CONTROL");
        FILE *fifo = path ? _wfopen(Utf8ToUtf16(path).c_str(), L"wb") : nullptr;
        ASSERT_TRUE(fifo) << "no control FIFO: " << (path ? path : "LOOPSET_SIM_CONTROL unset");
        std::fputs((line + "\n").c_str(), fifo);
        std::fclose(fifo);
    }

private:
    HWND Item(size_t index) {
        const int id = kDialogControls[index].id;
        if (id != IDC_STATIC) return GetDlgItem(m_window.Hwnd(), id);
        // The labels share one id: the table's n-th label is the n-th child with it.
        auto n = std::count_if(kDialogControls, kDialogControls + index,
                               [](const ControlSpec &c) { return c.id == IDC_STATIC; });
        for (HWND c = GetWindow(m_window.Hwnd(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if ((GetDlgCtrlID(c) & 0xFFFF) == 0xFFFF && n-- == 0) return c;
        return nullptr;
    }
    CLiveViewWindow *Live() { return m_window.LiveViewWindow(); }
    CCalibrationWindow *Cal() { return m_window.CalibrationWindow(); }

    const HHOOK m_hook = SetWindowsHookExW(WH_CBT, &CatchBox, nullptr, GetCurrentThreadId());
    CLoopsetWindow m_window;
    int m_port, m_ticks = 0;
};

}  // namespace

std::unique_ptr<CWindowDriver> OpenWindow(const std::string &settingsPath, UiLanguage language) {
    const char *port = std::getenv("LOOPSET_COM");
    if (!port || std::atoi(port) <= 0) return nullptr;
    if (!settingsPath.empty()) WriteComPort(settingsPath, std::atoi(port));
    // On the window's thread, this one.
    InstallLanguage(language);
    auto driver = std::make_unique<CWin32WindowDriver>(settingsPath, std::atoi(port));
    // The prefix's own %APPDATA%: the test's, not a user's.
    if (const char *appData = std::getenv("APPDATA"))
        driver->dataFolder = std::string(appData) + "\\loopset\\";
    return driver;
}
