#include "loopset_app.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <memory>

#include "loopset_window.h"
#include "machine_text.h"
#include "settings.h"
#include "text_utf16.h"
#include "window_shot.h"

namespace {

// The one window of the program, for the thread timers below, whose
// callbacks take no context.
CLoopsetWindow *g_window = nullptr;
std::wstring g_shotPath;
std::wstring g_liveShotPath;
std::wstring g_calShotPath, g_calSource;
bool g_shotSaved = false;
// How long the live view samples before its picture.
constexpr UINT kLiveShotMs = 8000;

BOOL CALLBACK CloseBox(HWND hwnd, LPARAM dialog) {
    // A message box of ours: a system dialog window other than the main one.
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (hwnd != reinterpret_cast<HWND>(dialog) && IsWindowVisible(hwnd) &&
        std::wstring_view(cls) == L"#32770")
        ::EndDialog(hwnd, IDOK);
    return TRUE;
}

void CALLBACK QuitTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!g_window) return;
    // Whatever is open on top (a message box) goes too.
    EnumThreadWindows(GetCurrentThreadId(), &CloseBox, reinterpret_cast<LPARAM>(g_window->Hwnd()));
    g_window->EndDialog(kDialogCancel);
}

bool Picture(HWND hwnd, const std::wstring &path) {
    RedrawWindow(hwnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return SaveWindowPicture(hwnd, path);
}

void CALLBACK ShotTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    if (!g_window) return;
    g_shotSaved = g_shotPath.empty() || Picture(g_window->Hwnd(), g_shotPath);
    if (!g_liveShotPath.empty()) {
        const CLiveViewWindow *live = g_window->LiveViewWindow();
        g_shotSaved = g_shotSaved && live && Picture(live->Hwnd(), g_liveShotPath);
    }
    g_window->EndDialog(kDialogCancel);
}

// The calibration's picture: each point's current into the instrument's
// control FIFO and Next, Adjust after as found, the picture once done.
void CALLBACK CalibrationStep(HWND, UINT, UINT_PTR id, DWORD) {
    using Text = CCalibrationPresenter::Text;
    CCalibrationWindow *cal = g_window ? g_window->CalibrationWindow() : nullptr;
    if (!cal) return;
    CCalibrationPresenter &presenter = cal->Presenter();
    const auto press = [cal](Text button) { SendMessageW(cal->Control(button), BM_CLICK, 0, 0); };
    if (presenter.CanNext()) {
        if (FILE *source = _wfopen(g_calSource.c_str(), L"wb")) {
            std::fputs(("1=" + FixedText(presenter.Procedure().NominalMa(), 3) + "\n").c_str(),
                       source);
            std::fclose(source);
        }
        press(Text::Next);
    } else if (presenter.CanAdjust()) {
        press(Text::Adjust);
    } else if (presenter.CanStart()) {
        KillTimer(nullptr, id);
        g_shotSaved = presenter.Procedure().CurrentStep() == CCalibration::Step::Done &&
                      Picture(cal->Hwnd(), g_calShotPath);
        g_window->EndDialog(kDialogCancel);
    }
}

void StartCalibration(CLoopsetWindow &window) {
    using Text = CCalibrationPresenter::Text;
    window.OpenCalibration();
    CCalibrationWindow &cal = *window.CalibrationWindow();
    const std::pair<Text, const wchar_t *> fields[] = {{Text::Points, L"4,12,20"},
                                                       {Text::Tag, L"PT-101"},
                                                       {Text::Operator, L"A. Kim"},
                                                       {Text::Reference, L"loop calibrator SN 4711"}};
    for (const auto &[field, text] : fields) SetWindowTextW(cal.Control(field), text);
    cal.Presenter().SetSteadySeconds(1);
    SendMessageW(cal.Control(Text::Start), BM_CLICK, 0, 0);
    SetTimer(nullptr, 0, 300, &CalibrationStep);
}

}  // namespace

bool CLoopsetApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    std::string settings;
    if (m_options.shotPort > 0) {
        // Its own settings file: the picture must not depend on, or change,
        // the port a user last chose.
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        settings = Utf16ToUtf8(temp) + "loopset-shot.ini";
        WriteComPort(settings, m_options.shotPort);
    }
    // On the heap: the dialog embeds the link's three 64 KiB buffers.
    auto window = std::make_unique<CLoopsetWindow>(settings);
    g_window = window.get();
    if (m_options.quitAfterMs > 0)
        SetTimer(nullptr, 0, static_cast<UINT>(m_options.quitAfterMs), &QuitTimer);
    if (!m_options.shotPath.empty() || !m_options.liveShotPath.empty() ||
        !m_options.calShotPath.empty()) {
        g_shotPath = m_options.shotPath;
        g_liveShotPath = m_options.liveShotPath;
        g_calShotPath = m_options.calShotPath;
        g_calSource = m_options.calSource;
        window->Dialog().SetStorePort(false);
        int responses = 0;
        window->SetResponseHook([&responses, w = window.get()](const ResponseOutcome &) {
            const HWND hwnd = w->Hwnd();
            if (++responses == 1) {
                // The second read goes through the button, as a click would.
                PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_CONFIG_READ, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_BTN_CONFIG_READ)));
            } else if (responses == 2 && !g_calShotPath.empty()) {
                StartCalibration(*w);
            } else if (responses == 2 && !g_liveShotPath.empty()) {
                // The live view knows the ranges now, and shows loop currents.
                w->OpenLiveView();
                SetTimer(nullptr, 0, kLiveShotMs, &ShotTimer);
            } else if (responses == 2) {
                // Give the window's last texts time to reach the screen.
                SetTimer(nullptr, 0, 500, &ShotTimer);
            }
        });
        if (window->Create()) {
            const HWND hwnd = window->Hwnd();
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_BTN_ADC_READ, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDC_BTN_ADC_READ)));
            MSG msg;
            while (!window->Ended() && GetMessageW(&msg, nullptr, 0, 0) > 0)
                window->HandleMessage(msg);
        }
        if (!g_shotSaved) m_exitCode = 3;
    } else {
        window->RunModal();
    }
    window.reset();
    g_window = nullptr;
    if (!settings.empty()) DeleteFileW(Utf8ToUtf16(settings).c_str());
    return false;
}
