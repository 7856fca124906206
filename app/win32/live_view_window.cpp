#include "live_view_window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <vector>

#include "config_file.h"
#include "dialog_template.h"
#include "files.h"
#include "file_dialog.h"
#include "text_utf16.h"
#include "window_parts.h"

namespace {

constexpr wchar_t kWindowClass[] = L"LoopsetLiveView";
constexpr wchar_t kTrendClass[] = L"LoopsetLiveTrend";

// Control ids; 1 and 2 stay free for the Enter and Escape of the keyboard
// handling, which the window answers as a dialog would.
constexpr int kIdCaptureFirst = 100;  // + channel * 2 + (20 mA ? 1 : 0)
constexpr int kIdRate = 110;
constexpr int kIdPause = 111;
constexpr int kIdSave = 112;

const COLORREF kChannelColours[kChannelCount] = {RGB(0, 90, 200), RGB(200, 60, 0)};

std::wstring Wide(const std::string &text) {
    return Utf8ToUtf16(text);
}

}  // namespace

CLiveViewWindow::CLiveViewWindow(CLiveView &live, HWND owner, const ITexts &texts)
    : m_live(live), m_texts(texts), m_presenter(live, texts) {
    m_font = CreateMessageFont();

    CreateObjectWindow(kWindowClass, kTrendClass, Wide(m_presenter.Title()), owner);
    if (!m_hwnd) return;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_values[ch] = AddControl(L"Static", L"", SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, 0);
        for (int end = 0; end < 2; ++end)
            m_capture[ch][end] =
                AddControl(L"Button", Wide(m_presenter.CaptureCaption(end == 1)).c_str(),
                           BS_PUSHBUTTON | WS_TABSTOP, kIdCaptureFirst + ch * 2 + end);
    }
    m_trend = AddControl(kTrendClass, L"", 0, 0);
    m_rateLabel =
        AddControl(L"Static", Wide(m_presenter.RateCaption()).c_str(),
                   SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, 0);
    m_rateEdit = AddChild(m_hwnd, m_font, L"Edit", L"", WS_TABSTOP | ES_NUMBER | ES_RIGHT, kIdRate,
                          WS_EX_CLIENTEDGE);
    SendMessageW(m_rateEdit, EM_SETLIMITTEXT, 2, 0);
    m_rateUpDown =
        AddControl(UPDOWN_CLASSW, L"", UDS_SETBUDDYINT | UDS_ARROWKEYS | UDS_NOTHOUSANDS, 0);
    SendMessageW(m_rateUpDown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(m_rateEdit), 0);
    SendMessageW(m_rateUpDown, UDM_SETRANGE32, CLiveViewModel::kMinRate, CLiveViewModel::kMaxRate);
    SendMessageW(m_rateUpDown, UDM_SETPOS32, 0, m_live.Model().Rate());
    m_pause = AddControl(L"Button", Wide(m_presenter.PauseCaption(false)).c_str(),
                         BS_PUSHBUTTON | WS_TABSTOP, kIdPause);
    m_save = AddControl(L"Button", Wide(m_presenter.SaveCaption()).c_str(),
                        BS_PUSHBUTTON | WS_TABSTOP, kIdSave);
    m_summary = AddControl(L"Static", L"", SS_RIGHT | SS_NOPREFIX | SS_CENTERIMAGE, 0);

    // A size from the font that shows the longest texts whole, beside the
    // dialog where the screen has room.
    const SIZE least = Layout();
    m_minTrack = PlaceBeside(m_hwnd, owner, least, least.cy);
    m_live.SetOnChange([this] { Refresh(); });
    Refresh();
}

CLiveViewWindow::~CLiveViewWindow() {
    m_live.SetOnChange(nullptr);
    if (m_hwnd) {
        KillTimer(m_hwnd, kTickTimer);
        DestroyWindow(m_hwnd);
    }
    m_live.Stop();
    if (m_font) DeleteObject(m_font);
}

HWND CLiveViewWindow::AddControl(const wchar_t *cls, const wchar_t *text, DWORD style, int id) {
    return AddChild(m_hwnd, m_font, cls, text, style, id);
}

void CLiveViewWindow::Open() {
    if (!m_hwnd) return;
    if (!m_live.Running()) {
        m_live.Start();
        RestartTimer();
        Tick();
    }
    ShowWindow(m_hwnd, SW_SHOW);
    if (IsIconic(m_hwnd)) ShowWindow(m_hwnd, SW_RESTORE);
    SetForegroundWindow(m_hwnd);
}

void CLiveViewWindow::Close() {
    // No timer while closed: a hidden live view costs nothing.
    if (m_hwnd) KillTimer(m_hwnd, kTickTimer);
    m_timerRunning = false;
    m_live.Stop();
    if (m_hwnd) ShowWindow(m_hwnd, SW_HIDE);
}

void CLiveViewWindow::RestartTimer() {
    // The timer runs at the sample rate: a quiet live view wakes the program
    // no more often than it samples.
    m_timerRunning = SetTimer(m_hwnd, kTickTimer, m_live.TickMs(), nullptr) != 0;
}

void CLiveViewWindow::Tick() {
    // Samples and failures are drawn as the session reports them.
    m_live.Tick();
}

void CLiveViewWindow::Refresh() {
    if (!m_hwnd) return;
    const CLiveViewModel &model = m_live.Model();
    bool changed = false;
    for (int ch = 0; ch < kChannelCount; ++ch)
        changed |= SetTextIfChanged(m_values[ch], Wide(m_presenter.ValueText(ch)));
    changed |= SetTextIfChanged(m_summary, Wide(m_presenter.SummaryText()));
    // The view may pause itself (its line lost): the button says what it does.
    SetTextIfChanged(m_pause, Wide(m_presenter.PauseCaption(model.Paused())));
    if (changed) InvalidateRect(m_trend, nullptr, FALSE);
}

SIZE CLiveViewWindow::Layout() {
    if (!m_summary) return {};
    RECT client;
    GetClientRect(m_hwnd, &client);
    const CTextMeasure measure(m_hwnd, m_font);
    const TEXTMETRICW &tm = measure.Metrics();
    const int margin = tm.tmHeight / 2 + 2;
    const int rowHeight = tm.tmHeight * 7 / 4;
    const int pad = tm.tmAveCharWidth * 3;
    auto width = [&](const std::string &text) { return measure.Width(Wide(text)); };
    const int captureWidth = std::max(width(m_presenter.CaptureCaption(true)),
                                      width(m_presenter.CaptureCaption(false))) + pad;
    const int labelWidth = width(m_presenter.RateCaption()) + 4;
    const int pauseWidth = std::max(width(m_presenter.PauseCaption(true)),
                                    width(m_presenter.PauseCaption(false))) + pad;
    const int saveWidth = width(m_presenter.SaveCaption()) + pad;
    const int editWidth = measure.Width(L"20") + tm.tmAveCharWidth * 2 + 6;
    const int valueWidth = width(m_presenter.WidestValueText());
    // A long run's summary, in the window's words.
    const int summaryWidth =
        width(Fill(m_texts.Text(UiText::LiveSummary), {"888888", "8888"})) + 4;

    const int right = client.right - margin;
    int y = margin;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const int buttons = right - 2 * captureWidth - margin / 2;
        MoveWindow(m_values[ch], margin, y, std::max(0, buttons - 2 * margin), rowHeight, TRUE);
        MoveWindow(m_capture[ch][0], buttons, y, captureWidth, rowHeight, TRUE);
        MoveWindow(m_capture[ch][1], buttons + captureWidth + margin / 2, y, captureWidth,
                   rowHeight, TRUE);
        y += rowHeight + margin / 2;
    }
    const int bottom = client.bottom - margin - rowHeight;
    MoveWindow(m_trend, margin, y + margin / 2, std::max(0, right - margin),
               std::max(0, bottom - margin - y - margin / 2), TRUE);
    int x = margin;
    MoveWindow(m_rateLabel, x, bottom, labelWidth, rowHeight, TRUE);
    x += labelWidth + 4;
    const int spin = GetSystemMetrics(SM_CXVSCROLL);
    MoveWindow(m_rateEdit, x, bottom, editWidth, rowHeight, TRUE);
    MoveWindow(m_rateUpDown, x + editWidth, bottom, spin, rowHeight, TRUE);
    x += editWidth + spin + margin;
    MoveWindow(m_pause, x, bottom, pauseWidth, rowHeight, TRUE);
    x += pauseWidth + margin / 2;
    MoveWindow(m_save, x, bottom, saveWidth, rowHeight, TRUE);
    x += saveWidth + margin;
    MoveWindow(m_summary, x, bottom, std::max(0, right - x), rowHeight, TRUE);
    const int rowWidth = labelWidth + 4 + editWidth + spin + margin + pauseWidth + margin / 2 +
                         saveWidth + margin + summaryWidth;
    const int valuesWidth = valueWidth + 2 * margin + 2 * captureWidth + margin / 2;
    return {std::max(rowWidth, valuesWidth) + 2 * margin,
            margin * 4 + rowHeight * 3 + margin + tm.tmHeight * 8};
}

LRESULT CLiveViewWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CTLCOLORSTATIC) return CObjectWindow::OnMessage(message, wParam, lParam);
    const HDC dc = reinterpret_cast<HDC>(wParam);
    for (int ch = 0; ch < kChannelCount; ++ch)
        if (reinterpret_cast<HWND>(lParam) == m_values[ch]) SetTextColor(dc, kChannelColours[ch]);
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void CLiveViewWindow::OnCommand(int id, int code) {
    if (id == IDCANCEL) {
        Close();
    } else if (id >= kIdCaptureFirst && id < kIdCaptureFirst + 2 * kChannelCount) {
        if (code != BN_CLICKED) return;
        const int channel = (id - kIdCaptureFirst) / 2;
        const bool twenty = (id - kIdCaptureFirst) % 2 == 1;
        const CaptureResult result = m_live.Capture(channel, twenty);
        if (!result.mean) Warn(Wide(m_presenter.CaptureProblem(result)));
    } else if (id == kIdPause && code == BN_CLICKED) {
        m_live.SetPaused(!m_live.Model().Paused());
    } else if (id == kIdSave && code == BN_CLICKED) {
        SaveCsv();
    } else if (id == kIdRate && code == EN_CHANGE) {
        // Taken as it is typed when it is a rate; anything else is put back
        // when the field is left.
        const auto rate = WholeWord(Utf16ToUtf8(WindowText(m_rateEdit)));
        if (rate && *rate >= CLiveViewModel::kMinRate && *rate <= CLiveViewModel::kMaxRate &&
            *rate != m_live.Model().Rate()) {
            m_live.SetRate(*rate);
            if (m_timerRunning) RestartTimer();
        }
    } else if (id == kIdRate && code == EN_KILLFOCUS) {
        SetTextIfChanged(m_rateEdit, std::to_wstring(m_live.Model().Rate()));
    }
}

void CLiveViewWindow::Warn(const std::wstring &text) {
    MessageBoxW(m_hwnd, text.c_str(), Wide(m_presenter.Title()).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

void CLiveViewWindow::SaveCsv() {
    const std::wstring filter = FileFilter(
        {{m_presenter.CsvFiles(), L"*.csv"}, {m_texts.Text(UiText::AllFiles), L"*.*"}});
    const std::wstring title = Wide(m_presenter.SaveCaption());
    const std::string path = AskFilePath(
        m_hwnd, {filter.c_str(), L"csv", title.c_str(), Wide(CLivePresenter::CsvFileName()).c_str()},
        true, m_texts);
    if (path.empty()) return;
    if (!ReplaceFileContents(path, m_live.Model().Csv()))
        Warn(Wide(m_presenter.CannotWrite(path, ErrorText(errno))));
}

void CLiveViewWindow::Draw(HDC dc, const RECT &rect) {
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const HGDIOBJ oldFont = SelectObject(dc, m_font);
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    const int labels = TextSize(dc, L"4095").cx + 8;
    const RECT area = {rect.left + labels, rect.top + tm.tmHeight / 2,
                       rect.right - tm.tmAveCharWidth, rect.bottom - tm.tmHeight - 4};
    if (area.right <= area.left || area.bottom <= area.top) {
        SelectObject(dc, oldFont);
        return;
    }
    const TrendArea trend = {double(area.left), double(area.top), double(area.right - area.left),
                             double(area.bottom - area.top)};
    auto y = [&](double v) { return static_cast<int>(std::lround(m_presenter.Y(trend, v))); };
    const HPEN grid = CreatePen(PS_SOLID, 1, RGB(200, 200, 200));
    const HGDIOBJ oldPen = SelectObject(dc, grid);
    const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, area.left, area.top, area.right, area.bottom);
    SetTextColor(dc, RGB(96, 96, 96));
    for (int v : m_presenter.Marks()) {
        MoveToEx(dc, area.left, y(v), nullptr);
        LineTo(dc, area.right, y(v));
        RECT label = {rect.left, y(v) - tm.tmHeight / 2, area.left - 4, y(v) + tm.tmHeight / 2 + 1};
        DrawTextW(dc, std::to_wstring(v).c_str(), -1, &label,
                  DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    }
    RECT caption = {area.left, area.bottom + 2, area.right, rect.bottom};
    DrawTextW(dc, Wide(m_presenter.Legend()).c_str(), -1, &caption, DT_RIGHT | DT_SINGLELINE | DT_TOP);

    // Into a buffer kept from paint to paint: redrawn at the sample rate, the
    // trend must cost next to nothing.
    for (int ch = 0; ch < kChannelCount; ++ch) {
        m_presenter.TrendPoints(ch, trend, m_points);
        if (m_points.empty()) continue;
        const HPEN pen = CreatePen(PS_SOLID, 2, kChannelColours[ch]);
        SelectObject(dc, pen);
        MoveToEx(dc, m_points[0].x - (m_points.size() == 1 ? 1 : 0), m_points[0].y, nullptr);
        if (m_points.size() == 1) LineTo(dc, m_points[0].x + 1, m_points[0].y);
        for (size_t i = 1; i < m_points.size(); ++i) LineTo(dc, m_points[i].x, m_points[i].y);
        SelectObject(dc, grid);
        DeleteObject(pen);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
    DeleteObject(grid);
}
