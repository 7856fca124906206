#include "loopset_window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <cwchar>

#include "config_commands.h"
#include "dialog_layout.h"
#include "file_dialog.h"
#include "text_utf16.h"
#include "win32_texts.h"
#include "window_parts.h"

namespace {

constexpr int kPortItems = PORTLINK_LAST_OFFERED_PORT;

CLoopsetWindow *WindowOf(HWND hwnd) {
    return reinterpret_cast<CLoopsetWindow *>(GetWindowLongPtrW(hwnd, DWLP_USER));
}

HICON LoadAppIcon(int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                         IMAGE_ICON, GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_DEFAULTCOLOR));
}

}  // namespace

std::wstring ApplicationTitle() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n < MAX_PATH ? n : 0);
    if (const size_t slash = name.find_last_of(L"\\/"); slash != std::wstring::npos)
        name.erase(0, slash + 1);
    if (const size_t dot = name.rfind(L'.'); dot != std::wstring::npos && dot > 0) name.erase(dot);
    return name;
}

CLoopsetWindow::CLoopsetWindow(std::string settingsPath, const PortlinkApi &api)
    : m_hIcon(LoadAppIcon(SM_CXICON, SM_CYICON)),
      m_hSmallIcon(LoadAppIcon(SM_CXSMICON, SM_CYSMICON)),
      m_dlg(std::make_unique<CLoopsetDlg>(*this, std::move(settingsPath), api)),
      m_live(std::make_unique<CLiveView>(*m_dlg)) {}

CLoopsetWindow::~CLoopsetWindow() {
    // A worker that still waits for a box must not wait for a window that is
    // going away (and the link joins its workers below).
    m_boxGate->Close();
    for (auto &[id, timer] : m_timers)
        if (timer.running && m_hwnd) KillTimer(m_hwnd, id);
    // The live view's window stops the live view, which logs through the
    // dialog, and the calibration's its procedure, which works through the
    // dialog's session: they go while the dialog is still there.
    m_liveWindow.reset();
    m_live.reset();
    m_calibrationWindow.reset();
    // Closes the port, which stops portlink's listener; only then may the
    // window it posts to go away.
    m_dlg.reset();
    if (m_hwnd) DestroyWindow(m_hwnd);
    if (m_hIcon) DestroyIcon(m_hIcon);
    if (m_hSmallIcon) DestroyIcon(m_hSmallIcon);
}

bool CLoopsetWindow::Create() {
    m_endedResult.reset();
    // OnInitDialog runs inside, at WM_INITDIALOG.
    const HWND hwnd =
        CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_LOOPSET_DIALOG), nullptr,
                           &CLoopsetWindow::DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd) return false;
    // Ended during start-up (a box closed by --quit-after, say): as with a
    // dialog ended in its initialisation, it is never shown.
    if (!m_endedResult) ShowWindow(hwnd, SW_SHOW);
    return true;
}

int CLoopsetWindow::RunModal() {
    if (!Create()) return -1;
    MSG msg;
    while (!m_endedResult) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            // A WM_QUIT belongs to whoever runs the outer loop.
            if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        HandleMessage(msg);
    }
    return m_endedResult.value_or(kDialogCancel);
}

WindowMessage CLoopsetWindow::ToWindowMessage(const MSG &msg) {
    return WindowMessage{msg.message, static_cast<uint32_t>(msg.wParam),
                         static_cast<int32_t>(msg.lParam)};
}

void CLoopsetWindow::HandleMessage(MSG &msg) {
    if (msg.message == PORTLINK_WM_PORT_NOTIFY && msg.hwnd == m_hwnd && m_hwnd) {
        // The dialog's pre-translation sees it before anything else; nothing
        // after it has a use for the message.
        m_dlg->PreTranslateMessage(ToWindowMessage(msg));
        return;
    }
    // The shortcuts come before the dialog's keyboard handling, which would
    // take the key for the focused control.
    if (const UINT command = ShortcutOf(msg)) {
        RunCommand(command);
        return;
    }
    if (m_hwnd && IsDialogMessageW(m_hwnd, &msg)) return;
    // Tab, Enter and Escape in the live view and the calibration work as in
    // a dialog.
    if (m_liveWindow && m_liveWindow->Hwnd() && IsDialogMessageW(m_liveWindow->Hwnd(), &msg))
        return;
    if (m_calibrationWindow && m_calibrationWindow->Hwnd() &&
        IsDialogMessageW(m_calibrationWindow->Hwnd(), &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

INT_PTR CALLBACK CLoopsetWindow::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto *self = reinterpret_cast<CLoopsetWindow *>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hwnd = hwnd;
    }
    CLoopsetWindow *self = WindowOf(hwnd);
    return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CLoopsetWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const HWND combo = GetDlgItem(m_hwnd, IDC_COM_PORT);
            for (int n = 1; n <= kPortItems; ++n) {
                wchar_t item[4];
                std::swprintf(item, 4, L"%d", n);
                SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
            }
            // The log holds a little over 64 KiB of text; the edit's own
            // limit would stop it well short.
            SendDlgItemMessageW(m_hwnd, IDC_LOG, EM_SETLIMITTEXT, 0, 0);
            if (const HMENU menu = GetSystemMenu(m_hwnd, FALSE)) {
                // The template stays as it is: the further commands go to
                // the system menu, and a button beside the credit line names
                // them.
                AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
                AppendCommands(menu);
            }
            AddCommandsButton();
            // TRUE: the focus goes to the first control of the tab order.
            return m_dlg->OnInitDialog() ? TRUE : FALSE;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    m_dlg->OnOK();
                    return TRUE;
                case IDCANCEL:
                    m_dlg->OnCancel();
                    return TRUE;
                case IDC_BTN_ADC_READ:
                    if (HIWORD(wParam) == BN_CLICKED) m_dlg->OnBtnAdcRead();
                    return TRUE;
                case IDC_BTN_CONFIG_READ:
                    if (HIWORD(wParam) == BN_CLICKED) m_dlg->OnBtnConfigRead();
                    return TRUE;
                case IDC_BTN_CONFIG_WRITE:
                    if (HIWORD(wParam) == BN_CLICKED) m_dlg->OnBtnConfigWrite();
                    return TRUE;
                case kIdCommandsButton:
                    if (HIWORD(wParam) == BN_CLICKED) ShowCommandsMenu();
                    return TRUE;
                default:
                    return FALSE;
            }
        case WM_CLOSE:
            m_dlg->OnCancel();
            return TRUE;
        case WM_SYSCOMMAND:
            // The system's own commands (close, move) go on to the system.
            return RunCommand(static_cast<UINT>(wParam & 0xFFF0)) ? TRUE : FALSE;
        case WM_TIMER:
            OnTimerMessage(static_cast<unsigned>(wParam));
            return TRUE;
        case kMsgFirstTick: {
            const auto it = m_timers.find(static_cast<unsigned>(wParam));
            if (it != m_timers.end() && it->second.running &&
                it->second.generation == static_cast<unsigned>(lParam))
                m_dlg->OnTimer(it->first);
            return TRUE;
        }
        case kMsgRunBoxes:
            RunPendingBoxes();
            return TRUE;
        case PORTLINK_WM_PORT_NOTIFY:
            // Here only when a loop other than ours dispatched it: a message
            // box's, or the system's while the window is dragged. Left
            // unread, the port would post no more until the next read.
            m_dlg->PreTranslateMessage(WindowMessage{message, static_cast<uint32_t>(wParam),
                                                     static_cast<int32_t>(lParam)});
            return TRUE;
        case WM_PAINT:
            if (!IsIconic(m_hwnd)) return FALSE;
            OnPaint();
            return TRUE;
        case WM_QUERYDRAGICON:
            // One of the messages whose dialog result is the return value.
            return reinterpret_cast<INT_PTR>(m_hIcon);
        default:
            return FALSE;
    }
}

void CLoopsetWindow::AppendCommands(HMENU menu) {
    const struct {
        UINT id;
        UiText text;
        const char *shortcut;
    } commands[] = {{kCmdLiveView, UiText::CommandLiveView, "\tCtrl+L"},
                    {kCmdCalibration, UiText::CommandCalibration, "\tCtrl+K"},
                    {kCmdSaveConfig, UiText::CommandSaveConfig, "\tCtrl+S"},
                    {kCmdLoadConfig, UiText::CommandLoadConfig, "\tCtrl+O"}};
    for (const auto &command : commands)
        AppendMenuW(menu, MF_STRING, command.id,
                    Utf8ToUtf16(Texts().Text(command.text) + command.shortcut).c_str());
}

void CLoopsetWindow::AddCommandsButton() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    // Where the Qt window has its button: the free corner under the log.
    RECT at = {5, kCommandsButtonY, 5 + 72, kCommandsButtonY + kCommandsButtonHeight};
    MapDialogRect(m_hwnd, &at);
    m_commandsButton = CreateWindowExW(
        0, L"Button", Utf8ToUtf16(Texts().Text(UiText::CommandsButton)).c_str(),
        WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | BS_FLAT, at.left, at.top, at.right - at.left,
        at.bottom - at.top, m_hwnd, reinterpret_cast<HMENU>(INT_PTR{kIdCommandsButton}), instance,
        nullptr);
    SendMessageW(m_commandsButton, WM_SETFONT, SendMessageW(m_hwnd, WM_GETFONT, 0, 0), FALSE);

    // The same words over the button and over the credit line (a static,
    // which lets the mouse through: a tool of the dialog over its place).
    m_commandsTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                    WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hwnd, nullptr,
                                    instance, nullptr);
    if (!m_commandsTip) return;
    std::wstring hint = Utf8ToUtf16(Texts().Text(UiText::CommandsHint) + "\r\n" +
                                    Texts().Text(UiText::CommandsInWindowMenu));
    // Lines, not one line across the screen.
    RECT width = {0, 0, 200, 0};
    MapDialogRect(m_hwnd, &width);
    SendMessageW(m_commandsTip, TTM_SETMAXTIPWIDTH, 0, width.right);
    TOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = m_hwnd;
    tool.uId = reinterpret_cast<UINT_PTR>(m_commandsButton);
    tool.lpszText = hint.data();
    SendMessageW(m_commandsTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    for (const ControlSpec &c : kDialogControls) {
        if (c.text != std::string_view(kCreditText)) continue;
        tool.uFlags = TTF_SUBCLASS;
        tool.uId = 1;
        tool.rect = {c.x, c.y, c.x + c.width, c.y + c.height};
        MapDialogRect(m_hwnd, &tool.rect);
        SendMessageW(m_commandsTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void CLoopsetWindow::ShowCommandsMenu() {
    const HMENU menu = CreatePopupMenu();
    if (!menu) return;
    AppendCommands(menu);
    RECT button;
    GetWindowRect(m_commandsButton, &button);
    // Upwards from the button, which sits at the window's foot.
    const UINT id = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_LEFTALIGN | TPM_BOTTOMALIGN,
                       button.left, button.top, 0, m_hwnd, nullptr));
    DestroyMenu(menu);
    if (id) RunCommand(id);
}

UINT CLoopsetWindow::ShortcutOf(const MSG &msg) const {
    // Pressed, not held down, in the dialog (not in a box or the live view),
    // with Ctrl alone.
    if (msg.message != WM_KEYDOWN || (msg.lParam & (1 << 30)) || !m_hwnd ||
        (msg.hwnd != m_hwnd && !IsChild(m_hwnd, msg.hwnd)) || GetKeyState(VK_CONTROL) >= 0 ||
        GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_MENU) < 0)
        return 0;
    switch (msg.wParam) {
        case 'L':
            return kCmdLiveView;
        case 'K':
            return kCmdCalibration;
        case 'S':
            return kCmdSaveConfig;
        case 'O':
            return kCmdLoadConfig;
        default:
            return 0;
    }
}

bool CLoopsetWindow::RunCommand(UINT id) {
    switch (id) {
        case kCmdLiveView:
            OpenLiveView();
            return true;
        case kCmdCalibration:
            OpenCalibration();
            return true;
        case kCmdSaveConfig:
            if (const std::string path = AskConfigPath(true); !path.empty())
                SaveConfiguration(path);
            return true;
        case kCmdLoadConfig:
            if (const std::string path = AskConfigPath(false); !path.empty())
                LoadConfiguration(path);
            return true;
        default:
            return false;
    }
}

std::string CLoopsetWindow::AskConfigPath(bool save) {
    const ITexts &texts = Texts();
    const std::wstring filter = FileFilter(
        {{texts.Text(UiText::ConfigFiles), L"*.json"}, {texts.Text(UiText::AllFiles), L"*.*"}});
    const std::wstring title =
        Utf8ToUtf16(texts.Text(save ? UiText::SaveConfigTitle : UiText::LoadConfigTitle));
    return AskFilePath(
        m_hwnd, {filter.c_str(), L"json", title.c_str(), Utf8ToUtf16(kConfigFileName).c_str()},
        save, texts);
}

void CLoopsetWindow::OpenLiveView() {
    if (!m_liveWindow) m_liveWindow = std::make_unique<CLiveViewWindow>(*m_live, m_hwnd, Texts());
    m_liveWindow->Open();
}

void CLoopsetWindow::OpenCalibration() {
    if (!m_calibrationWindow)
        m_calibrationWindow =
            std::make_unique<CCalibrationWindow>(m_dlg->Session(), m_hwnd, Texts());
    m_calibrationWindow->Open();
}

const ITexts &CLoopsetWindow::Texts() {
    return Win32Texts();
}

void CLoopsetWindow::OnResponse(const ResponseOutcome &outcome) {
    if (m_responseHook) m_responseHook(outcome);
}

bool CLoopsetWindow::LoadConfiguration(const std::string &path) {
    const std::string error = LoadConfigIntoFields(path, *this, Texts());
    if (!error.empty()) ShowWarning(error);
    return error.empty();
}

bool CLoopsetWindow::SaveConfiguration(const std::string &path) {
    const std::string error = SaveFieldsToConfig(path, *this, Texts());
    if (!error.empty()) ShowWarning(error);
    return error.empty();
}

void CLoopsetWindow::OnPaint() {
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(m_hwnd, &ps);
    SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rect;
    GetClientRect(m_hwnd, &rect);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (rect.right - rect.left - cx + 1) / 2, (rect.bottom - rect.top - cy + 1) / 2,
             m_hIcon);
    EndPaint(m_hwnd, &ps);
}

void CLoopsetWindow::StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) {
    TimerState &timer = m_timers[id];
    timer.periodMs = periodMs;
    timer.firstMs = firstMs;
    timer.running = true;
    ++timer.generation;
    // The system's timers tick no faster than USER_TIMER_MINIMUM; the
    // period is what it can give.
    SetTimer(m_hwnd, id, firstMs == 0 ? periodMs : firstMs, nullptr);
    if (firstMs == 0)
        PostMessageW(m_hwnd, kMsgFirstTick, id, static_cast<LPARAM>(timer.generation));
}

void CLoopsetWindow::OnTimerMessage(unsigned id) {
    const auto it = m_timers.find(id);
    if (it == m_timers.end() || !it->second.running) {
        KillTimer(m_hwnd, id);
        return;
    }
    TimerState &timer = it->second;
    if (timer.firstMs != 0 && timer.firstMs != timer.periodMs) {
        // The first tick of a restart came early; the rest keep the period.
        timer.firstMs = timer.periodMs;
        SetTimer(m_hwnd, id, timer.periodMs, nullptr);
    }
    m_dlg->OnTimer(id);
}

void CLoopsetWindow::StopTimer(unsigned id) {
    const auto it = m_timers.find(id);
    if (it == m_timers.end()) return;
    it->second.running = false;
    ++it->second.generation;
    KillTimer(m_hwnd, id);
}

void CLoopsetWindow::EndDialog(int result) {
    m_endedResult = result;
    // Neither the live view nor a calibration polls once the dialog has ended.
    if (m_liveWindow) m_liveWindow->Close();
    if (m_calibrationWindow) m_calibrationWindow->Close();
    // Hidden now, destroyed once the dialog has closed its port.
    if (m_hwnd) ShowWindow(m_hwnd, SW_HIDE);
}

void CLoopsetWindow::ShowWarning(const std::string &text) {
    ShowBox(true, ApplicationTitle(), Utf8ToUtf16(text));
}

void CLoopsetWindow::ShowError(const std::string &caption, const std::string &text) {
    ShowBox(false, Utf8ToUtf16(caption), Utf8ToUtf16(text));
}

void CLoopsetWindow::ShowBox(bool warning, std::wstring caption, std::wstring text) {
    if (GetCurrentThreadId() == m_uiThread) {
        RunBox(warning, caption, text);
        return;
    }
    // A worker thread: the box runs on the UI thread and the worker waits
    // until it is closed, or until the window goes away. Without a window to
    // show it on, nobody would ever close it: the worker goes on.
    CBoxGate<Box>::ShowAndWait(m_boxGate, {warning, std::move(caption), std::move(text)}, [this] {
        return m_hwnd && PostMessageW(m_hwnd, kMsgRunBoxes, 0, 0);
    });
}

void CLoopsetWindow::RunPendingBoxes() {
    m_boxGate->RunPending([this](const Box &box) { RunBox(box.warning, box.caption, box.text); });
}

void CLoopsetWindow::RunBox(bool warning, const std::wstring &caption, const std::wstring &text) {
    // The warning belongs to the dialog; the socket error box has no owner.
    MessageBoxW(warning ? m_hwnd : nullptr, text.c_str(), caption.c_str(),
                MB_OK | (warning ? MB_ICONEXCLAMATION : MB_ICONERROR));
}

std::string CLoopsetWindow::GetFieldText(int id) {
    return Utf16ToUtf8(WindowText(GetDlgItem(m_hwnd, id)));
}

void CLoopsetWindow::SetFieldText(int id, const std::string &text) {
    SetDlgItemTextW(m_hwnd, id, Utf8ToUtf16(text).c_str());
}

int CLoopsetWindow::GetPortSelection() {
    // The item whose text the selector shows: a number typed in that is one
    // of the items selects that item (not whatever was picked before); any
    // other text selects nothing.
    const HWND combo = GetDlgItem(m_hwnd, IDC_COM_PORT);
    const std::wstring text = WindowText(combo);
    if (text.empty()) return -1;
    const LRESULT found = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(text.c_str()));
    // The search is for the whole text: "03" or " 3" is no item.
    return found == CB_ERR ? -1 : static_cast<int>(found);
}

void CLoopsetWindow::SetPortSelection(int index) {
    SendDlgItemMessageW(m_hwnd, IDC_COM_PORT, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void CLoopsetWindow::SetLogText(const std::string &text) {
    SetDlgItemTextW(m_hwnd, IDC_LOG, Utf8ToUtf16(text).c_str());
}

void CLoopsetWindow::ScrollLogToEnd() {
    const HWND log = GetDlgItem(m_hwnd, IDC_LOG);
    const LRESULT end = GetWindowTextLengthW(log);
    SendMessageW(log, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(log, EM_SCROLLCARET, 0, 0);
    SendMessageW(log, WM_VSCROLL, SB_BOTTOM, 0);
}

void CLoopsetWindow::SetIcons() {
    SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
}
