// The Windows dialog under Wine on a virtual display, against the simulated
// device on COM<LOOPSET_COM>: the template as the system lays it out, the
// tab order, the three buttons, the keys that close or do not, and the
// message boxes.
// clang-format off
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "loopset_window.h"
#include "qt/dialog_layout.h"
#include "settings.h"
#include "text_utf16.h"

namespace fs = std::filesystem;

namespace {

// A bound for a failing case only; a passing one is done long before.
constexpr DWORD kAnswerLimitMs = 10000;

int DevicePort() {
    const char *n = std::getenv("LOOPSET_COM");
    return n ? std::atoi(n) : 0;
}

std::string Text(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
    return Utf16ToUtf8(text);
}

std::string ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return Utf16ToUtf8(name);
}

// Runs a message loop, each message through handle, until done() holds;
// false after the bound.
bool PumpUntil(const std::function<bool()> &done, const std::function<void(MSG &)> &handle,
               DWORD limitMs = kAnswerLimitMs) {
    const ULONGLONG end = GetTickCount64() + limitMs;
    for (MSG msg; !done();) {
        if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            handle(msg);
        } else if (GetTickCount64() >= end) {
            return false;
        } else {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        }
    }
    return true;
}

// The log's texts without their time stamps, checking each stamp's form.
std::vector<std::string> LogTexts(const std::string &log) {
    std::vector<std::string> texts;
    size_t pos = 0;
    while ((pos = log.find("\r\n", pos)) != std::string::npos) {
        pos += 2;
        size_t end = log.find("\r\n", pos);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(pos, end - pos);
        // "YYYY-MM-DD hh:mm:ss" and a tab.
        EXPECT_EQ(line.size() > 20 ? line[19] : '?', '\t') << line;
        EXPECT_EQ(line.substr(4, 1) + line.substr(7, 1) + line.substr(13, 1), "--:") << line;
        texts.push_back(line.size() > 20 ? line.substr(20) : line);
    }
    return texts;
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        port_ = DevicePort();
        if (port_ <= 0) GTEST_SKIP() << "LOOPSET_COM is not set: run through with_display.sh";
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        dir_ = fs::path(temp) / ("loopset-dialog-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(dir_);
        settings_ = Utf16ToUtf8((dir_ / "config.ini").wstring());
        WriteComPort(settings_, port_);
    }
    void TearDown() override {
        window_.reset();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // The dialog, created and shown, with its answers counted.
    CLoopsetWindow &Open() {
        window_ = std::make_unique<CLoopsetWindow>(settings_);
        window_->SetResponseHook([this](const ResponseOutcome &out) { outcomes_.push_back(out); });
        EXPECT_TRUE(window_->Create());
        return *window_;
    }

    // Runs the dialog's loop until done() holds; false after the bound.
    bool Pump(const std::function<bool()> &done) {
        return PumpUntil(done, [this](MSG &msg) { window_->HandleMessage(msg); });
    }
    // Everything that is waiting in the queue now, and nothing more.
    void Drain() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) window_->HandleMessage(msg);
    }

    HWND Item(int id) { return GetDlgItem(window_->Hwnd(), id); }
    std::string Field(int id) { return Text(Item(id)); }
    void Click(int id) { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    bool ClickAndWait(int id) {
        const size_t before = outcomes_.size();
        Click(id);
        return Pump([&] { return outcomes_.size() > before; });
    }

    int port_ = 0;
    fs::path dir_;
    std::string settings_;
    std::unique_ptr<CLoopsetWindow> window_;
    std::vector<ResponseOutcome> outcomes_;
};

TEST_F(Dialog, TemplateLaysOutEveryControlAtItsPlaceWithRoomForItsText) {
    CLoopsetWindow &w = Open();
    const HWND dlg = w.Hwnd();
    EXPECT_EQ(Text(dlg), kDialogTitle);
    const LONG style = GetWindowLongW(dlg, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_POPUP), WS_CAPTION | WS_SYSMENU | WS_POPUP);
    EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(IsWindowVisible(dlg));
    // Icon 128, big and small, and the one shown while the window is dragged
    // minimised.
    EXPECT_TRUE(SendMessageW(dlg, WM_GETICON, ICON_BIG, 0));
    EXPECT_TRUE(SendMessageW(dlg, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(SendMessageW(dlg, WM_QUERYDRAGICON, 0, 0),
              SendMessageW(dlg, WM_GETICON, ICON_BIG, 0));

    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
    LOGFONTW logFont = {};
    ASSERT_TRUE(GetObjectW(font, sizeof logFont, &logFont));
    EXPECT_EQ(Utf16ToUtf8(logFont.lfFaceName), "굴림");

    RECT client;
    GetClientRect(dlg, &client);
    RECT size{0, 0, kDialogWidthDu, kDialogHeightDu};
    MapDialogRect(dlg, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    // The children in template order: the labels' specs in turn, the others by id.
    std::vector<HWND> labels;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == 0xFFFF || GetDlgCtrlID(child) == -1) labels.push_back(child);
    size_t nextLabel = 0;

    const HDC dc = GetDC(dlg);
    const HGDIOBJ oldFont = SelectObject(dc, font);
    std::vector<std::pair<RECT, std::string>> placed;
    for (const ControlSpec &spec : kDialogControls) {
        const std::string what = spec.text[0] ? spec.text : std::to_string(spec.id);
        HWND hwnd = nullptr;
        if (spec.id == IDC_STATIC) {
            ASSERT_LT(nextLabel, labels.size()) << what;
            hwnd = labels[nextLabel++];
        } else {
            hwnd = GetDlgItem(dlg, spec.id);
        }
        ASSERT_TRUE(hwnd) << what;
        if (spec.kind != ControlKind::PortSelector && spec.kind != ControlKind::Log) {
            EXPECT_EQ(Text(hwnd), spec.text) << what;
        }

        // Each kind's class, and its style under a mask.
        static const std::map<ControlKind, std::tuple<const char *, LONG, LONG>> kinds = {
            {ControlKind::GroupBox, {"Button", BS_TYPEMASK, BS_GROUPBOX}},
            {ControlKind::Label, {"Static", SS_TYPEMASK, SS_LEFT}},
            {ControlKind::CenteredLabel, {"Static", SS_TYPEMASK, SS_CENTER}},
            {ControlKind::ReadOnlyValue, {"Edit", ES_RIGHT | ES_READONLY, ES_RIGHT | ES_READONLY}},
            {ControlKind::Value, {"Edit", ES_RIGHT | ES_READONLY, ES_RIGHT}},
            {ControlKind::PortSelector, {"ComboBox", 3, CBS_DROPDOWN}},
            {ControlKind::Button, {"Button", BS_TYPEMASK, BS_PUSHBUTTON}},
            {ControlKind::Log,
             {"Edit", ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOHSCROLL,
              ES_MULTILINE | ES_READONLY | WS_VSCROLL | ES_AUTOHSCROLL}}};
        const auto &[cls, mask, value] = kinds.at(spec.kind);
        EXPECT_EQ(ClassOf(hwnd), cls) << what;
        EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & mask, value) << what;

        // Where the template says, in the dialog's own units.
        // The system places a control at its mapped origin with its mapped
        // size; the sum may differ by a pixel from the mapped far corner.
        RECT want{spec.x, spec.y, spec.width, spec.height};
        MapDialogRect(dlg, &want);
        want.right += want.left;
        want.bottom += want.top;
        RECT got;
        GetWindowRect(hwnd, &got);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT *>(&got), 2);
        EXPECT_EQ(got.left, want.left) << what;
        EXPECT_EQ(got.top, want.top) << what;
        EXPECT_EQ(got.right, want.right) << what;
        // A closed combo box is as tall as its edit; the template's height is
        // the dropped list's.
        if (spec.kind != ControlKind::PortSelector) {
            EXPECT_EQ(got.bottom, want.bottom) << what;
        }
        EXPECT_LE(got.right, client.right) << what;
        EXPECT_LE(got.bottom, client.bottom) << what;

        // No text is cut: it fits its control at the font's own metrics.
        if (spec.text[0] && spec.kind != ControlKind::GroupBox) {
            const std::wstring text = Utf8ToUtf16(spec.text);
            SIZE extent;
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
            RECT inner;
            GetClientRect(hwnd, &inner);
            const int margin =
                spec.kind == ControlKind::Button ? 2 * GetSystemMetrics(SM_CXEDGE) : 0;
            EXPECT_LE(extent.cx + 2 * margin, inner.right) << what;
            EXPECT_LE(extent.cy, inner.bottom) << what;
        }
        if (spec.kind != ControlKind::GroupBox) placed.emplace_back(got, what);
    }
    SelectObject(dc, oldFont);
    ReleaseDC(dlg, dc);
    EXPECT_EQ(nextLabel, labels.size());

    // Nothing covers anything else (the frame holds the upper part).
    for (size_t i = 0; i < placed.size(); ++i)
        for (size_t j = i + 1; j < placed.size(); ++j) {
            RECT overlap;
            EXPECT_FALSE(IntersectRect(&overlap, &placed[i].first, &placed[j].first))
                << placed[i].second << " and " << placed[j].second;
        }
}

TEST_F(Dialog, TabVisitsTheControlsInTemplateOrderStartingAtTheFirstButton) {
    CLoopsetWindow &w = Open();
    Drain();
    EXPECT_EQ(GetFocus(), Item(kTabOrder[0]));
    std::vector<int> visited;
    HWND at = Item(kTabOrder[0]);
    for (size_t i = 0; i < std::size(kTabOrder); ++i) {
        visited.push_back(GetDlgCtrlID(at));
        at = GetNextDlgTabItem(w.Hwnd(), at, FALSE);
    }
    EXPECT_EQ(visited, std::vector<int>(std::begin(kTabOrder), std::end(kTabOrder)));
    EXPECT_EQ(at, Item(kTabOrder[0]));  // and round again
}

TEST_F(Dialog, ButtonsShowWhatTheDeviceAnsweredAndLogIt) {
    CLoopsetWindow &w = Open();
    EXPECT_EQ(w.GetPortSelection(), port_ - 1);
    EXPECT_EQ(Text(Item(IDC_COM_PORT)), std::to_string(port_));
    EXPECT_EQ(SendMessageW(Item(IDC_COM_PORT), CB_GETCOUNT, 0, 0), 30);

    ASSERT_TRUE(ClickAndWait(IDC_BTN_ADC_READ)) << Field(IDC_LOG);
    const ResponseOutcome adc = outcomes_.back();
    ASSERT_TRUE(adc.hasAdc);
    EXPECT_EQ(Field(IDC_ADC_CH1), std::to_string(adc.ch1));
    EXPECT_EQ(Field(IDC_ADC_CH2), std::to_string(adc.ch2));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), std::to_string(adc.extra));

    // A block written is the block read back; every field carries it.
    const char *block[] = {"100", "4000", "5", "1500", "200", "3900", "7", "65535"};
    const int ids[] = {IDC_CH1_REF_MIN, IDC_CH1_REF_MAX, IDC_CH1_DISP_MIN, IDC_CH1_DISP_MAX,
                       IDC_CH2_REF_MIN, IDC_CH2_REF_MAX, IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX};
    for (size_t i = 0; i < 8; ++i) SetDlgItemTextA(w.Hwnd(), ids[i], block[i]);
    ASSERT_TRUE(ClickAndWait(IDC_BTN_CONFIG_WRITE)) << Field(IDC_LOG);
    for (size_t i = 0; i < 8; ++i) SetDlgItemTextA(w.Hwnd(), ids[i], "");
    ASSERT_TRUE(ClickAndWait(IDC_BTN_CONFIG_READ)) << Field(IDC_LOG);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(Field(ids[i]), block[i]) << ids[i];
    // The device counts its answers: the third.
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), std::to_string(adc.extra + 2));

    const std::vector<std::string> want = {
        "Start!",    "Send ADC Read",     "Serial Full", "CMD_GET_ADC_VALUE",
        "Ok!",       "Send Config Write", "Serial Full", "CMD_SET_CONFIG_DATA",
        "CRC16 Ok!", "Send Config Read",  "Serial Full", "CMD_GET_CONFIG_DATA",
        "Ok!"};
    const std::string log = Field(IDC_LOG);
    EXPECT_EQ(log.substr(0, 2), "\r\n");
    EXPECT_EQ(LogTexts(log), want);
    // Kept at its end.
    DWORD start = 0, end = 0;
    SendMessageW(Item(IDC_LOG), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, static_cast<DWORD>(GetWindowTextLengthW(Item(IDC_LOG))));

    // The port went into the settings before the frame did.
    EXPECT_EQ(ReadComPort(settings_), port_);
}

TEST_F(Dialog, TypedPortNumbersSelectOnlyTheItemTheyName) {
    CLoopsetWindow &w = Open();
    const HWND combo = Item(IDC_COM_PORT);
    SetWindowTextW(combo, L"12");
    EXPECT_EQ(w.GetPortSelection(), 11);
    SetWindowTextW(combo, L"30");
    EXPECT_EQ(w.GetPortSelection(), 29);
    for (const wchar_t *other : {L"31", L"0", L"03", L" 3", L"abc", L""}) {
        SetWindowTextW(combo, other);
        EXPECT_EQ(w.GetPortSelection(), -1) << Utf16ToUtf8(other);
    }
    w.SetPortSelection(4);
    EXPECT_EQ(Text(combo), "5");
}

TEST_F(Dialog, AnswersArriveWhileAnotherLoopRunsTheWindow) {
    // A message box's loop, or the system's while the window is dragged,
    // dispatches without our pre-translation: the port's messages must still
    // be read, or the port stays silent.
    Open();
    Drain();
    Click(IDC_BTN_ADC_READ);
    ASSERT_TRUE(PumpUntil([&] { return !outcomes_.empty(); },
                          [](MSG &msg) { TranslateMessage(&msg), DispatchMessageW(&msg); }))
        << Field(IDC_LOG);
    EXPECT_TRUE(outcomes_.back().hasAdc);
}

TEST_F(Dialog, EnterLeavesTheWindowOpenEscapeAndTheCloseBoxCloseIt) {
    CLoopsetWindow &w = Open();
    Drain();
    SetFocus(Item(IDC_CH1_REF_MIN));
    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYUP, VK_RETURN, 0xC0000001);
    Drain();
    EXPECT_FALSE(w.Ended());
    EXPECT_TRUE(IsWindowVisible(w.Hwnd()));

    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYDOWN, VK_ESCAPE, 1);
    Drain();
    ASSERT_TRUE(w.Ended());
    EXPECT_EQ(*w.Ended(), kDialogCancel);
    EXPECT_FALSE(IsWindowVisible(w.Hwnd()));

    CLoopsetWindow &again = Open();
    Drain();
    PostMessageW(again.Hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Drain();
    ASSERT_TRUE(again.Ended());
    EXPECT_EQ(*again.Ended(), kDialogCancel);
}

// The version of a module, and the language and code page of its first
// string block.
std::pair<std::string, std::wstring> VersionOf(const wchar_t *module) {
    std::vector<BYTE> data(GetFileVersionInfoSizeW(module, nullptr));
    VS_FIXEDFILEINFO *fixed = nullptr;
    WORD *translation = nullptr;
    UINT size = 0;
    if (data.empty() || !GetFileVersionInfoW(module, 0, DWORD(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&fixed), &size) ||
        !VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void **>(&translation), &size) ||
        size < 2 * sizeof(WORD))
        return {};
    char version[64];
    wchar_t block[16];
    snprintf(version, sizeof version, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
             LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
             LOWORD(fixed->dwFileVersionLS));
    swprintf(block, 16, L"%04x%04x", translation[0], translation[1]);
    return {version, block};
}

TEST(Resources, TheProgramAndThePortLibraryCarryTheirKoreanVersionBlocks) {
    wchar_t self[MAX_PATH] = {}, library[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    GetModuleFileNameW(GetModuleHandleW(L"portlink.dll"), library, MAX_PATH);
    using Version = std::pair<std::string, std::wstring>;
    EXPECT_EQ(VersionOf(self), Version("1.0.0.1", L"041204b0"));
    EXPECT_EQ(VersionOf(library), Version("1.0.0.2", L"041204b0"));
}

// What a message box showed, read when it became active, and closed then.
struct SeenBox {
    std::string caption, text;
    bool warningIcon = false;
    HWND owner = nullptr;
};
std::vector<SeenBox> g_boxes;

LRESULT CALLBACK CloseBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        if (ClassOf(box) == "#32770" && GetDlgItem(box, 0xFFFF)) {
            SeenBox seen;
            seen.caption = Text(box);
            seen.text = Text(GetDlgItem(box, 0xFFFF));
            EnumChildWindows(
                box,
                [](HWND child, LPARAM found) {
                    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                        ClassOf(child) == "Static") {
                        const auto icon =
                            reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
                        *reinterpret_cast<bool *>(found) =
                            icon && icon == LoadIconW(nullptr, IDI_EXCLAMATION);
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&seen.warningIcon));
            seen.owner = GetWindow(box, GW_OWNER);
            g_boxes.push_back(seen);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(Dialog, WarningsComeAsOwnedBoxesFromTheWindowAndFromWorkers) {
    g_boxes.clear();
    const HHOOK hook = SetWindowsHookExW(WH_CBT, &CloseBoxes, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    CLoopsetWindow &w = Open();
    Drain();

    // The link's own: a port with no device behind it.
    SetWindowTextW(Item(IDC_COM_PORT), L"30");
    Click(IDC_BTN_ADC_READ);
    // From a worker, which waits until the box is closed.
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        w.ShowWarning("경고 from a worker");
        returned = true;
    });
    EXPECT_TRUE(Pump([&] { return returned.load(); }));
    worker.join();
    UnhookWindowsHookEx(hook);

    ASSERT_EQ(g_boxes.size(), 2u);
    const std::string title = Utf16ToUtf8(ApplicationTitle());
    EXPECT_EQ(title, "windows_dialog_test");
    for (const SeenBox &box : g_boxes) {
        EXPECT_EQ(box.caption, title);
        EXPECT_TRUE(box.warningIcon) << box.text;
        EXPECT_EQ(box.owner, w.Hwnd()) << box.text;
    }
    EXPECT_EQ(g_boxes[0].text,
              "시리얼 포트 COM 30를(을) 열수 없습니다.\r\n\r\n환경 설정에서 사용할 포트를 선택 "
              "해주세요.");
    EXPECT_EQ(g_boxes[1].text, "경고 from a worker");
}

// The program's folder is mounted read-only by settings_check.sh, with a
// config.ini in it that names the device's port.
TEST(ReadOnlyFolder, SettingsGoToTheUsersFolderAndStartFromTheProgramsOwn) {
    const int port = DevicePort();
    if (!std::getenv("LOOPSET_READ_ONLY_FOLDER") || port <= 0)
        GTEST_SKIP() << "run through settings_check.sh";
    wchar_t appData[MAX_PATH] = {};
    ASSERT_TRUE(GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH));
    const fs::path stored = fs::path(appData) / "loopset" / "config.ini";
    std::error_code ignored;
    fs::remove(stored, ignored);

    auto window = std::make_unique<CLoopsetWindow>();
    std::vector<ResponseOutcome> outcomes;
    window->SetResponseHook([&](const ResponseOutcome &out) { outcomes.push_back(out); });
    ASSERT_TRUE(window->Create());
    EXPECT_EQ(fs::path(Utf8ToUtf16(window->Dialog().SettingsPath())), stored);
    // The port came from the file beside the program.
    EXPECT_EQ(window->GetPortSelection(), port - 1);

    SendMessageW(GetDlgItem(window->Hwnd(), IDC_BTN_ADC_READ), BM_CLICK, 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return !outcomes.empty(); },
                          [&](MSG &msg) { window->HandleMessage(msg); }));
    EXPECT_TRUE(outcomes.back().hasAdc);
    window.reset();
    EXPECT_EQ(ReadComPort(Utf16ToUtf8(stored.wstring())), port);
}

}  // namespace
