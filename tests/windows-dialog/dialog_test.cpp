// The Windows dialog under Wine on a virtual display, against the simulated
// device on COM<LOOPSET_COM>.
// clang-format off
#include <windows.h>
// clang-format on
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "config_fields.h"
#include "dialog_layout.h"
#include "files.h"
#include "loopset_window.h"
#include "settings.h"
#include "text_utf16.h"

namespace fs = std::filesystem;

namespace {

std::string Text(HWND hwnd) {
    wchar_t text[4096] = {};
    GetWindowTextW(hwnd, text, 4096);
    return Utf16ToUtf8(text);
}

std::string ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return Utf16ToUtf8(name);
}

// Runs a message loop, each message through handle, until done() holds;
// false after a bound that only a failing case reaches.
bool PumpUntil(const std::function<bool()> &done, const std::function<void(MSG &)> &handle) {
    const ULONGLONG end = GetTickCount64() + 10000;
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

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        const char *n = std::getenv("LOOPSET_COM");
        port_ = n ? std::atoi(n) : 0;
        if (port_ <= 0) GTEST_SKIP() << "LOOPSET_COM is not set: run through with_display.sh";
        file_ = fs::temp_directory_path() /
                ("loopset-dialog-" + std::to_string(GetCurrentProcessId()) + ".ini");
        settings_ = Utf16ToUtf8(file_.wstring());
        WriteComPort(settings_, port_);
    }
    void TearDown() override {
        window_.reset();
        std::error_code ignored;
        fs::remove(file_, ignored);
    }

    // The dialog, created and shown, with its answers counted.
    CLoopsetWindow &Open() {
        window_ = std::make_unique<CLoopsetWindow>(settings_);
        window_->SetResponseHook([this](const ResponseOutcome &out) {
            if (!out.live) outcomes_.push_back(out);
        });
        EXPECT_TRUE(window_->Create());
        return *window_;
    }
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
    fs::path file_;
    std::string settings_;
    std::unique_ptr<CLoopsetWindow> window_;
    std::vector<ResponseOutcome> outcomes_;
};

// Each kind's class, and its style under a mask.
const std::map<ControlKind, std::tuple<const char *, LONG, LONG>> kKinds = {
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

TEST_F(Dialog, TemplateLaysOutEveryControlAtItsPlaceInItsFont) {
    const HWND dlg = Open().Hwnd();
    EXPECT_EQ(Text(dlg), kDialogTitle);
    // A fixed-size modal frame with a system menu: nothing to minimise,
    // maximise or resize.
    const LONG style = WS_CAPTION | WS_SYSMENU | WS_POPUP | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                       WS_THICKFRAME;
    EXPECT_EQ(GetWindowLongW(dlg, GWL_STYLE) & style, WS_CAPTION | WS_SYSMENU | WS_POPUP);
    EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_TRUE(IsWindowVisible(dlg));
    // Icon 128, big and small, and the one shown while dragged minimised.
    const LRESULT icon = SendMessageW(dlg, WM_GETICON, ICON_BIG, 0);
    EXPECT_TRUE(icon && SendMessageW(dlg, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(SendMessageW(dlg, WM_QUERYDRAGICON, 0, 0), icon);

    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dlg, WM_GETFONT, 0, 0));
    LOGFONTW logFont = {};
    ASSERT_TRUE(GetObjectW(font, sizeof logFont, &logFont));
    EXPECT_EQ(Utf16ToUtf8(logFont.lfFaceName), "굴림");

    RECT client, size{0, 0, kDialogWidthDu, kDialogHeightDu};
    GetClientRect(dlg, &client);
    MapDialogRect(dlg, &size);
    EXPECT_TRUE(EqualRect(&client, &size));

    // The labels in template order match the table's labels in turn.
    std::vector<HWND> labels;
    for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) == 0xFFFF || GetDlgCtrlID(child) == -1) labels.push_back(child);
    size_t nextLabel = 0;

    for (const ControlSpec &entry : kDialogControls) {
        const std::string what = entry.text[0] ? entry.text : std::to_string(entry.id);
        HWND hwnd = nullptr;
        if (entry.id == IDC_STATIC) {
            ASSERT_LT(nextLabel, labels.size()) << what;
            hwnd = labels[nextLabel++];
        } else {
            hwnd = GetDlgItem(dlg, entry.id);
        }
        ASSERT_TRUE(hwnd) << what;
        if (entry.kind != ControlKind::PortSelector && entry.kind != ControlKind::Log) {
            EXPECT_EQ(Text(hwnd), entry.text) << what;
        }
        const auto &[cls, mask, value] = kKinds.at(entry.kind);
        EXPECT_EQ(ClassOf(hwnd), cls) << what;
        EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & mask, value) << what;

        // The system places a control at its mapped origin with its mapped
        // size; the sum may differ by a pixel from the mapped far corner.
        RECT want{entry.x, entry.y, entry.width, entry.height}, got;
        MapDialogRect(dlg, &want);
        want.right += want.left;
        want.bottom += want.top;
        GetWindowRect(hwnd, &got);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT *>(&got), 2);
        // A closed combo box is as tall as its edit; the template's height is
        // the dropped list's.
        if (entry.kind == ControlKind::PortSelector) want.bottom = got.bottom;
        EXPECT_TRUE(EqualRect(&got, &want)) << what << " at " << got.left << ',' << got.top << ' '
                                            << got.right << ',' << got.bottom;
    }
    EXPECT_EQ(nextLabel, labels.size());
}

TEST_F(Dialog, TabVisitsTheControlsInTemplateOrderStartingAtTheFirstButton) {
    const HWND dlg = Open().Hwnd();
    Drain();
    std::vector<int> visited, want(std::begin(kTabOrder), std::end(kTabOrder));
    want.push_back(kTabOrder[0]);  // and round again
    for (HWND at = GetFocus(); visited.size() < want.size(); at = GetNextDlgTabItem(dlg, at, FALSE))
        visited.push_back(GetDlgCtrlID(at));
    EXPECT_EQ(visited, want);
}

TEST_F(Dialog, ButtonsShowWhatTheDeviceAnsweredThroughEitherLoop) {
    CLoopsetWindow &w = Open();
    EXPECT_EQ(w.GetPortSelection(), port_ - 1);
    EXPECT_EQ(Field(IDC_COM_PORT), std::to_string(port_));
    EXPECT_EQ(SendMessageW(Item(IDC_COM_PORT), CB_GETCOUNT, 0, 0), 30);

    // The first answer through another loop, as a message box's or the
    // system's while the window is dragged: without our pre-translation the
    // port's messages must still be read.
    Drain();
    Click(IDC_BTN_ADC_READ);
    ASSERT_TRUE(PumpUntil([&] { return !outcomes_.empty(); },
                          [](MSG &msg) { TranslateMessage(&msg), DispatchMessageW(&msg); }))
        << Field(IDC_LOG);
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

    // The log (its entries are the dialog's own tests') shown to its end.
    EXPECT_TRUE(Field(IDC_LOG).ends_with("\tOk!")) << Field(IDC_LOG);
    DWORD start = 0, end = 0;
    SendMessageW(Item(IDC_LOG), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(end, static_cast<DWORD>(GetWindowTextLengthW(Item(IDC_LOG))));
}

TEST_F(Dialog, TypedPortNumbersSelectOnlyTheItemTheyName) {
    CLoopsetWindow &w = Open();
    const std::pair<const wchar_t *, int> cases[] = {{L"12", 11},  {L"30", 29}, {L"31", -1},
                                                     {L"0", -1},   {L"03", -1}, {L" 3", -1},
                                                     {L"abc", -1}, {L"", -1}};
    for (const auto &[typed, index] : cases) {
        SetWindowTextW(Item(IDC_COM_PORT), typed);
        EXPECT_EQ(w.GetPortSelection(), index) << Utf16ToUtf8(typed);
    }
    w.SetPortSelection(4);
    EXPECT_EQ(Field(IDC_COM_PORT), "5");
}

TEST_F(Dialog, EnterLeavesTheWindowOpenEscapeAndTheCloseBoxCloseIt) {
    CLoopsetWindow *w = &Open();
    Drain();
    SetFocus(Item(IDC_CH1_REF_MIN));
    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYUP, VK_RETURN, 0xC0000001);
    Drain();
    EXPECT_FALSE(w->Ended());
    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYDOWN, VK_ESCAPE, 1);
    Drain();
    EXPECT_EQ(w->Ended(), kDialogCancel);
    EXPECT_FALSE(IsWindowVisible(w->Hwnd()));

    w = &Open();
    Drain();
    PostMessageW(w->Hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
    Drain();
    EXPECT_EQ(w->Ended(), kDialogCancel);
}

// A module's version and the language and code page of its strings.
std::string VersionOf(HMODULE handle) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(handle, module, MAX_PATH);
    std::vector<BYTE> data(GetFileVersionInfoSizeW(module, nullptr));
    VS_FIXEDFILEINFO *fixed = nullptr;
    WORD *lang = nullptr;
    UINT size = 0;
    if (data.empty() || !GetFileVersionInfoW(module, 0, DWORD(data.size()), data.data()) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void **>(&fixed), &size) ||
        !VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void **>(&lang), &size) ||
        size < 2 * sizeof(WORD))
        return {};
    char text[64];
    snprintf(text, sizeof text, "%u.%u.%u.%u %04x%04x", HIWORD(fixed->dwFileVersionMS),
             LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
             LOWORD(fixed->dwFileVersionLS), lang[0], lang[1]);
    return text;
}

TEST(Resources, TheProgramAndThePortLibraryCarryTheirKoreanVersionBlocks) {
    EXPECT_EQ(VersionOf(nullptr), "1.0.0.1 041204b0");
    EXPECT_EQ(VersionOf(GetModuleHandleW(L"portlink.dll")), "1.0.0.2 041204b0");
}

// What a message box showed, read when it became active, and closed then.
struct SeenBox {
    std::string caption, text;
    HWND owner;
    bool warningIcon;
};
std::vector<SeenBox> g_boxes;

BOOL CALLBACK FindWarningIcon(HWND child, LPARAM found) {
    if (ClassOf(child) == "Static" && (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
        *reinterpret_cast<bool *>(found) =
            SendMessageW(child, STM_GETICON, 0, 0) ==
            reinterpret_cast<LRESULT>(LoadIconW(nullptr, IDI_EXCLAMATION));
    return TRUE;
}

LRESULT CALLBACK CloseBoxes(int code, WPARAM wParam, LPARAM lParam) {
    const HWND box = reinterpret_cast<HWND>(wParam);
    if (code == HCBT_ACTIVATE && ClassOf(box) == "#32770" && GetDlgItem(box, 0xFFFF)) {
        SeenBox seen{Text(box), Text(GetDlgItem(box, 0xFFFF)), GetWindow(box, GW_OWNER), false};
        EnumChildWindows(box, FindWarningIcon, reinterpret_cast<LPARAM>(&seen.warningIcon));
        g_boxes.push_back(seen);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
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

// settings_check.sh mounts the program's folder read-only, with a
// config.ini in it that names the device's port.
TEST_F(Dialog, ReadOnlyFolderSendsTheSettingsToTheUsersFolderFromTheProgramsOwn) {
    if (!std::getenv("LOOPSET_READ_ONLY_FOLDER")) GTEST_SKIP() << "run through settings_check.sh";
    wchar_t appData[MAX_PATH] = {};
    ASSERT_TRUE(GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH));
    const fs::path stored = fs::path(appData) / "loopset" / "config.ini";
    std::error_code ignored;
    fs::remove(stored, ignored);

    settings_.clear();
    CLoopsetWindow &w = Open();
    EXPECT_EQ(fs::path(Utf8ToUtf16(w.Dialog().SettingsPath())), stored);
    EXPECT_EQ(w.GetPortSelection(), port_ - 1);
    ASSERT_TRUE(ClickAndWait(IDC_BTN_ADC_READ));
    EXPECT_TRUE(outcomes_.back().hasAdc);
    window_.reset();
    EXPECT_EQ(ReadComPort(Utf16ToUtf8(stored.wstring())), port_);
}

}  // namespace

namespace {

// The live view polls the dialog's port, quietly, and a button still works
// between its samples; its readings mean what the configuration says.
TEST_F(Dialog, LiveViewFromTheSystemMenuSharesThePortAndCapturesAPoint) {
    CLoopsetWindow &w = Open();
    ASSERT_TRUE(ClickAndWait(IDC_BTN_CONFIG_READ)) << Field(IDC_LOG);
    SendMessageW(w.Hwnd(), WM_SYSCOMMAND, kCmdLiveView, 0);
    CLiveViewWindow *live = w.LiveViewWindow();
    ASSERT_TRUE(live && IsWindowVisible(live->Hwnd()));
    SetWindowTextW(live->RateEdit(), L"20");
    const CLiveViewModel &model = live->Model();
    EXPECT_EQ(model.Rate(), 20);
    ASSERT_TRUE(Pump([&] { return model.Size() >= 5; })) << Field(IDC_LOG);
    ASSERT_TRUE(ClickAndWait(IDC_BTN_ADC_READ)) << Field(IDC_LOG);
    EXPECT_TRUE(outcomes_.back().hasAdc);
    const size_t before = model.Size();
    ASSERT_TRUE(Pump([&] { return model.Size() >= before + 5; }));
    EXPECT_EQ(model.Failures(), 0u);
    EXPECT_NE(Text(live->ValueLabel(0)).find(" mA   "), std::string::npos);

    // The mean of the last two seconds, give or take the sample that left
    // them between the click and this check; the 20 mA field keeps its value.
    SetDlgItemTextW(w.Hwnd(), IDC_CH1_REF_MIN, L"");
    const std::string max = Field(IDC_CH1_REF_MAX);
    SendMessageW(live->CaptureButton(0, false), BM_CLICK, 0, 0);
    const double mean = *model.CaptureMean(0, model.At(model.Size() - 1).seconds);
    EXPECT_NEAR(std::atof(Field(IDC_CH1_REF_MIN).c_str()), mean, 1.0) << Field(IDC_CH1_REF_MIN);
    EXPECT_EQ(Field(IDC_CH1_REF_MAX), max);

    SendMessageW(live->Hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindowVisible(live->Hwnd()));
    const std::string log = Field(IDC_LOG);
    EXPECT_NE(log.find("\tLive View Start"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("\tLive View Stop")) << log;
    EXPECT_EQ(log.find("CMD_GET_ADC_VALUE"), log.rfind("CMD_GET_ADC_VALUE")) << "a line per sample";

    // Its shortcut in the dialog, Ctrl held in the thread's key state, opens it again.
    BYTE keys[256] = {};
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(Item(IDC_CH1_REF_MIN), WM_KEYDOWN, 'L', 1);
    Drain();
    SetKeyboardState(std::array<BYTE, 256>{}.data());
    EXPECT_TRUE(IsWindowVisible(live->Hwnd()));
}

TEST_F(Dialog, ConfigurationFilesKeepTheEightFieldsAndABadOneChangesNone) {
    g_boxes.clear();
    const HHOOK hook = SetWindowsHookExW(WH_CBT, &CloseBoxes, nullptr, GetCurrentThreadId());
    CLoopsetWindow &w = Open();
    const std::string file = Utf16ToUtf8((fs::temp_directory_path() / L"라인3.json").wstring());
    for (const ConfigField &f : kConfigFieldTable) w.SetFieldText(f.id, std::to_string(f.id * 3));
    ASSERT_TRUE(w.SaveConfiguration(file));
    for (const ConfigField &f : kConfigFieldTable) w.SetFieldText(f.id, "7");
    ASSERT_TRUE(w.LoadConfiguration(file));
    for (const ConfigField &f : kConfigFieldTable) EXPECT_EQ(Field(f.id), std::to_string(f.id * 3));

    ASSERT_TRUE(ReplaceFileContents(file, "{\"ch1\": 5}"));
    w.SetFieldText(IDC_CH1_REF_MIN, "7");
    EXPECT_FALSE(w.LoadConfiguration(file));
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(Field(IDC_CH1_REF_MIN), "7");
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text, file + ": no ch1.ref_min");
    EXPECT_EQ(g_boxes[0].owner, w.Hwnd());
    DeleteFileW(Utf8ToUtf16(file).c_str());
}

}  // namespace
