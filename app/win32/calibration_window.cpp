#include "calibration_window.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cmath>
#include <utility>

#include "machine_text.h"
#include "text_utf16.h"
#include "window_parts.h"

namespace {

using Text = CCalibrationPresenter::Text;

constexpr wchar_t kWindowClass[] = L"LoopsetCalibration";
constexpr wchar_t kPlotClass[] = L"LoopsetCalibrationPlot";
// A control's id is this and its caption's number; 1 and 2 stay free for
// the Enter and Escape of the keyboard handling.
constexpr int kIdFirst = 100;

// The as-found series and its rows' first cell in one colour, the as-left
// ones in another: the table is the plot's legend.
constexpr COLORREF kFoundColour = RGB(200, 90, 0), kLeftColour = RGB(0, 90, 200);

std::wstring Wide(const std::string &text) {
    return Utf8ToUtf16(text);
}

int Id(Text text) {
    return kIdFirst + static_cast<int>(text);
}

}  // namespace

CCalibrationWindow::CCalibrationWindow(CDeviceSession &session, HWND owner, const ITexts &texts)
    : m_texts(texts), m_presenter(session, texts) {
    m_font = CreateMessageFont();
    LOGFONTW bold = {};
    if (m_font && GetObjectW(m_font, sizeof bold, &bold)) {
        bold.lfWeight = FW_BOLD;
        m_bold = CreateFontIndirectW(&bold);
    }

    CreateObjectWindow(kWindowClass, kPlotClass, Caption(Text::Title), owner);
    if (!m_hwnd) return;
    const auto add = [this](Text text, const wchar_t *cls, const std::wstring &value, DWORD style,
                            DWORD exStyle = 0) {
        m_controls[size_t(text)] =
            AddChild(m_hwnd, m_font, cls, value.c_str(), style, Id(text), exStyle);
    };
    const auto label = [this](Text text) {
        m_labels[size_t(text)] = AddChild(m_hwnd, m_font, L"Static", Caption(text).c_str(),
                                          SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, 0);
    };
    const DWORD edit = WS_TABSTOP | ES_AUTOHSCROLL;
    const CalFields defaults;
    label(Text::Channel);
    add(Text::Channel, L"ComboBox", L"", WS_TABSTOP | CBS_DROPDOWNLIST | WS_VSCROLL);
    for (const wchar_t *item : {L"1", L"2"})
        SendMessageW(Control(Text::Channel), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    SendMessageW(Control(Text::Channel), CB_SETCURSEL, 0, 0);
    for (const auto &[text, value] : {std::pair{Text::Points, defaults.points},
                                      {Text::Tolerance, defaults.tolerance},
                                      {Text::Tag, {}},
                                      {Text::Operator, {}},
                                      {Text::Reference, {}}}) {
        label(text);
        add(text, L"Edit", Wide(value), edit, WS_EX_CLIENTEDGE);
    }
    for (const Text text : {Text::Start, Text::Stop})
        add(text, L"Button", Caption(text), WS_TABSTOP | BS_PUSHBUTTON);
    m_prompt = AddChild(m_hwnd, m_bold, L"Static", L"", SS_LEFT | SS_NOPREFIX, 0);
    label(Text::Applied);
    add(Text::Applied, L"Edit", L"", edit, WS_EX_CLIENTEDGE);
    for (const Text text : {Text::Next, Text::Adjust, Text::Finish})
        add(text, L"Button", Caption(text), WS_TABSTOP | BS_PUSHBUTTON);

    m_table = AddChild(m_hwnd, m_font, WC_LISTVIEWW, L"",
                       WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER | LVS_SHOWSELALWAYS, 0,
                       WS_EX_CLIENTEDGE);
    ListView_SetExtendedListViewStyle(m_table, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    const CalRow header = m_presenter.Header();
    for (size_t c = 0; c < header.size(); ++c) {
        std::wstring text = Wide(header[c]);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
        // The first column of a list view is always left-aligned.
        column.fmt = c == 0 ? LVCFMT_LEFT : LVCFMT_RIGHT;
        column.pszText = text.data();
        ListView_InsertColumn(m_table, static_cast<int>(c), &column);
    }
    FitColumns();
    m_plot = AddChild(m_hwnd, m_font, kPlotClass, L"", 0, 0);
    m_verdicts =
        AddChild(m_hwnd, m_bold, L"Static", L"", SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE, 0);
    label(Text::Folder);
    add(Text::Folder, L"Static", Wide(CCalibrationPresenter::RecordFolder()),
        SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE | SS_PATHELLIPSIS);
    for (const Text text : {Text::Save, Text::Open})
        add(text, L"Button", Caption(text), WS_TABSTOP | BS_PUSHBUTTON);
    m_saved = AddChild(m_hwnd, m_font, L"Static", L"", SS_LEFT | SS_NOPREFIX, 0);

    // Room for a table of ten points and a plot to match.
    const SIZE least = Layout();
    m_minTrack = PlaceBeside(m_hwnd, owner, least, least.cy / 3);
    m_presenter.Procedure().SetOnChange([this] { Refresh(); });
    Refresh();
}

CCalibrationWindow::~CCalibrationWindow() {
    m_presenter.Procedure().SetOnChange(nullptr);
    if (m_hwnd) {
        KillTimer(m_hwnd, kTickTimer);
        DestroyWindow(m_hwnd);
    }
    m_presenter.Stop();
    if (m_font) DeleteObject(m_font);
    if (m_bold) DeleteObject(m_bold);
}

void CCalibrationWindow::Open() {
    if (!m_hwnd) return;
    // Readings are due only while a point settles, but the window asks every
    // tick: Tick() itself sends nothing otherwise.
    SetTimer(m_hwnd, kTickTimer, m_presenter.TickMs(), nullptr);
    ShowWindow(m_hwnd, SW_SHOW);
    if (IsIconic(m_hwnd)) ShowWindow(m_hwnd, SW_RESTORE);
    SetForegroundWindow(m_hwnd);
}

void CCalibrationWindow::Close() {
    // Nobody sees a hidden procedure's prompts: it ends, and no timer runs.
    if (m_hwnd) KillTimer(m_hwnd, kTickTimer);
    m_presenter.Stop();
    if (m_hwnd) ShowWindow(m_hwnd, SW_HIDE);
}

void CCalibrationWindow::Route(Text button) {
    const auto field = [this](Text text) { return Utf16ToUtf8(WindowText(Control(text))); };
    const HWND applied = Control(Text::Applied);
    std::string error, json, html;
    if (button == Text::Start) {
        const auto channel = SendMessageW(Control(Text::Channel), CB_GETCURSEL, 0, 0);
        error = m_presenter.Start({static_cast<int>(channel) + 1, field(Text::Points),
                                   field(Text::Tolerance), field(Text::Tag), field(Text::Operator),
                                   field(Text::Reference)});
        if (error.empty()) {
            m_htmlPath.clear();
            SetWindowTextW(m_saved, L"");
            SetTimer(m_hwnd, kTickTimer, m_presenter.TickMs(), nullptr);
        }
    } else if (button == Text::Next) {
        error = m_presenter.Next(field(Text::Applied));
        if (error.empty()) SetWindowTextW(applied, L"");
    } else if (button == Text::Save) {
        error = m_presenter.SaveRecord(&json, &html);
        if (error.empty()) {
            m_htmlPath = html;
            SetWindowTextW(m_saved, Wide(json + "\r\n" + html).c_str());
        }
    } else if (button == Text::Open) {
        const auto opened = reinterpret_cast<INT_PTR>(ShellExecuteW(
            m_hwnd, L"open", Wide(m_htmlPath).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
        if (opened <= 32) error = Fill(m_texts.Text(UiText::CalNoProgram), {m_htmlPath});
    } else if (button == Text::Stop) {
        m_presenter.Stop();
    } else if (button == Text::Adjust) {
        m_presenter.Adjust();
    } else if (button == Text::Finish) {
        m_presenter.Finish();
    }
    if (!error.empty()) Warn(error);
    Refresh();
}

std::wstring CCalibrationWindow::Caption(Text text) const {
    return Wide(m_presenter.Caption(text));
}

void CCalibrationWindow::Warn(const std::string &text) {
    MessageBoxW(m_hwnd, Wide(text).c_str(), Caption(Text::Title).c_str(),
                MB_OK | MB_ICONEXCLAMATION);
}

void CCalibrationWindow::Refresh() {
    if (!m_hwnd) return;
    SetTextIfChanged(m_prompt, Wide(m_presenter.Prompt()));
    SetTextIfChanged(m_verdicts, Wide(m_presenter.VerdictText()));
    const bool settable = m_presenter.CanStart(), next = m_presenter.CanNext();
    // The current of each point asked for is typed where the last one was.
    const HWND applied = Control(Text::Applied);
    const bool focusApplied = next && !IsWindowEnabled(applied) && GetActiveWindow() == m_hwnd;
    for (const Text text : {Text::Channel, Text::Points, Text::Tolerance, Text::Tag, Text::Operator,
                            Text::Reference, Text::Start})
        EnableWindow(Control(text), settable);
    EnableWindow(Control(Text::Stop), m_presenter.CanStop());
    EnableWindow(applied, next);
    EnableWindow(Control(Text::Next), next);
    EnableWindow(Control(Text::Adjust), m_presenter.CanAdjust());
    EnableWindow(Control(Text::Finish), m_presenter.CanFinish());
    EnableWindow(Control(Text::Save), m_presenter.CanSave());
    EnableWindow(Control(Text::Open), !m_htmlPath.empty());
    if (focusApplied) SetFocus(applied);
    FillTable();
}

void CCalibrationWindow::FillTable() {
    // Refreshed ten times a second while a point settles: the table and the
    // plot change only when a point came in.
    std::vector<CalRow> rows = m_presenter.Rows();
    if (rows == m_rows) return;
    SendMessageW(m_table, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(m_table);
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < rows[r].size(); ++c) {
            std::wstring text = Wide(rows[r][c]);
            LVITEMW item = {};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(r);
            item.iSubItem = static_cast<int>(c);
            item.pszText = text.data();
            SendMessageW(m_table, c == 0 ? LVM_INSERTITEMW : LVM_SETITEMTEXTW, r,
                         reinterpret_cast<LPARAM>(&item));
        }
    }
    m_rows = std::move(rows);
    FitColumns();
    Layout();
    if (!m_rows.empty())
        ListView_EnsureVisible(m_table, static_cast<int>(m_rows.size()) - 1, FALSE);
    SendMessageW(m_table, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(m_table, nullptr, TRUE);
    InvalidateRect(m_plot, nullptr, FALSE);
}

void CCalibrationWindow::FitColumns() {
    // Each column as wide as its header and its widest value; before there
    // are any, wide enough for a number of the table.
    const CalRow header = m_presenter.Header();
    const auto width = [this](const std::string &text) {
        return static_cast<int>(
            SendMessageW(m_table, LVM_GETSTRINGWIDTHW, 0, LPARAM(Wide(text).c_str())));
    };
    m_tableWidth = GetSystemMetrics(SM_CXVSCROLL) + 2 * GetSystemMetrics(SM_CXEDGE);
    for (size_t c = 0; c < header.size(); ++c) {
        int widest = std::max(width(header[c]), m_rows.empty() ? width("-0000.000") : 0);
        for (const CalRow &row : m_rows) widest = std::max(widest, width(row[c]));
        // Room for the cell's margins, which the string's width leaves out.
        widest += GetSystemMetrics(SM_CXEDGE) * 6 + 4;
        ListView_SetColumnWidth(m_table, static_cast<int>(c), widest);
        m_tableWidth += widest;
    }
}

LRESULT CCalibrationWindow::OnTableDraw(NMLVCUSTOMDRAW *draw) const {
    switch (draw->nmcd.dwDrawStage) {
        case CDDS_PREPAINT:
            return CDRF_NOTIFYITEMDRAW;
        case CDDS_ITEMPREPAINT:
            return CDRF_NOTIFYSUBITEMDRAW;
        case CDDS_ITEMPREPAINT | CDDS_SUBITEM:
            draw->clrText = draw->iSubItem != 0 ? GetSysColor(COLOR_WINDOWTEXT)
                            : draw->nmcd.dwItemSpec < m_presenter.Record().asFound.size()
                                ? kFoundColour
                                : kLeftColour;
            return CDRF_DODEFAULT;
        default:
            return CDRF_DODEFAULT;
    }
}

SIZE CCalibrationWindow::Layout() {
    if (!m_saved) return {};
    RECT client;
    GetClientRect(m_hwnd, &client);
    const CTextMeasure measure(m_hwnd, m_font);
    const TEXTMETRICW &tm = measure.Metrics();
    const int margin = tm.tmHeight / 2 + 2, gap = margin / 2;
    const int rowHeight = tm.tmHeight * 7 / 4, twoLines = tm.tmHeight * 2 + 4;
    const int pad = tm.tmAveCharWidth * 3;
    const auto width = [this, &measure](Text text) { return measure.Width(Caption(text)) + 4; };
    int button = 0;
    for (const Text text :
         {Text::Start, Text::Stop, Text::Next, Text::Adjust, Text::Finish, Text::Save, Text::Open})
        button = std::max<int>(button, width(text) + pad);
    const int field = measure.Width(Wide(CalFields{}.points)) + pad * 2;
    const int appliedField = measure.Width(L"00.0000") + pad;
    const auto place = [](HWND hwnd, int x, int y, int w, int h) {
        MoveWindow(hwnd, x, y, std::max(0, w), std::max(0, h), TRUE);
    };
    const int right = client.right - margin;

    // The settings, three label and field pairs a row.
    const Text settings[2][3] = {{Text::Channel, Text::Points, Text::Tolerance},
                                 {Text::Tag, Text::Operator, Text::Reference}};
    int x = margin, y = margin;
    for (int column = 0; column < 3; ++column) {
        const int labelWidth = std::max(width(settings[0][column]), width(settings[1][column]));
        for (int row = 0; row < 2; ++row) {
            const Text text = settings[row][column];
            const int top = y + row * (rowHeight + gap);
            place(m_labels[size_t(text)], x, top, labelWidth, rowHeight);
            // A drop-down list's height is its open list's.
            place(Control(text), x + labelWidth, top, field,
                  text == Text::Channel ? rowHeight * 4 : rowHeight);
        }
        x += labelWidth + field + margin;
    }
    const int settingsWidth = x - margin;
    y += 2 * (rowHeight + gap);
    place(Control(Text::Start), margin, y, button, rowHeight);
    place(Control(Text::Stop), margin + button + gap, y, button, rowHeight);
    y += rowHeight + margin;
    place(m_prompt, margin, y, right - margin, twoLines);
    y += twoLines + gap;
    x = margin;
    place(m_labels[size_t(Text::Applied)], x, y, width(Text::Applied), rowHeight);
    x += width(Text::Applied);
    place(Control(Text::Applied), x, y, appliedField, rowHeight);
    x += appliedField + gap;
    for (const Text text : {Text::Next, Text::Adjust, Text::Finish}) {
        // Adjust and Finish stand apart from Next.
        if (text == Text::Adjust) x += margin * 2;
        place(Control(text), x, y, button, rowHeight);
        x += button + gap;
    }
    y += rowHeight + margin;
    const int tableTop = y;

    // From the bottom: the files saved, the records folder and its buttons,
    // the verdicts; the table and the plot share what is left.
    y = client.bottom - margin - twoLines;
    place(m_saved, margin, y, right - margin, twoLines);
    y -= rowHeight + gap;
    x = right - 2 * button - gap;
    place(Control(Text::Save), x, y, button, rowHeight);
    place(Control(Text::Open), x + button + gap, y, button, rowHeight);
    place(m_labels[size_t(Text::Folder)], margin, y, width(Text::Folder), rowHeight);
    place(Control(Text::Folder), margin + width(Text::Folder), y,
          x - margin - margin - width(Text::Folder), rowHeight);
    y -= rowHeight + gap;
    place(m_verdicts, margin, y, right - margin, rowHeight);
    // The table as wide as its columns, if the plot keeps its least width.
    const int leastPlot = tm.tmAveCharWidth * 36;
    const int tableWidth = std::min(m_tableWidth, right - 2 * margin - leastPlot);
    place(m_table, margin, tableTop, tableWidth, y - gap - tableTop);
    place(m_plot, margin + tableWidth + margin, tableTop, right - tableWidth - 2 * margin,
          y - gap - tableTop);
    return {std::max(settingsWidth, m_tableWidth + leastPlot + margin) + 2 * margin,
            tableTop + tm.tmHeight * 12 + gap + 2 * (rowHeight + gap) + twoLines + margin};
}

LRESULT CCalibrationWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_NOTIFY) return CObjectWindow::OnMessage(message, wParam, lParam);
    const auto *header = reinterpret_cast<NMHDR *>(lParam);
    if (header->hwndFrom == m_table && header->code == NM_CUSTOMDRAW)
        return OnTableDraw(reinterpret_cast<NMLVCUSTOMDRAW *>(lParam));
    return 0;
}

void CCalibrationWindow::OnCommand(int id, int code) {
    if (id == IDCANCEL) {
        Close();
    } else if (id == IDOK) {
        // Enter in the applied current's field is Next.
        if (GetFocus() == Control(Text::Applied)) Route(Text::Next);
    } else if (id >= kIdFirst && id <= Id(Text::Folder) && code == BN_CLICKED) {
        // Fields and the selector send other codes; Route takes buttons only.
        Route(static_cast<Text>(id - kIdFirst));
    }
}

void CCalibrationWindow::Draw(HDC dc, const RECT &rect) {
    FillRect(dc, &rect, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    const HGDIOBJ oldFont = SelectObject(dc, m_font);
    SetBkMode(dc, TRANSPARENT);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    const RECT frame = {rect.left + TextSize(dc, L"-00.00").cx + 8, rect.top + tm.tmHeight / 2 + 2,
                        rect.right - 10, rect.bottom - tm.tmHeight - 6};
    if (frame.right <= frame.left || frame.bottom <= frame.top) {
        SelectObject(dc, oldFont);
        return;
    }
    const PlotArea area = {double(frame.left), double(frame.top), double(frame.right - frame.left),
                           double(frame.bottom - frame.top)};
    const auto x = [&](double mA) {
        return static_cast<int>(std::lround(m_presenter.X(area, mA)));
    };
    const auto y = [&](double pct) {
        return static_cast<int>(std::lround(m_presenter.Y(area, pct)));
    };
    const double range = m_presenter.PlotRange(), tolerance = m_presenter.Record().tolerancePct;

    // The tolerance band, then the grid and its numbers: % of span up the
    // side, mA along the bottom.
    const RECT band = {frame.left, y(tolerance), frame.right, y(-tolerance)};
    const HBRUSH bandBrush = CreateSolidBrush(RGB(215, 240, 215));
    FillRect(dc, &band, bandBrush);
    DeleteObject(bandBrush);
    const HPEN grid = CreatePen(PS_SOLID, 1, RGB(200, 200, 200));
    const HGDIOBJ oldPen = SelectObject(dc, grid);
    const HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, frame.left, frame.top, frame.right, frame.bottom);
    SetTextColor(dc, RGB(96, 96, 96));
    for (const double pct : {range, 0.0, -range}) {
        MoveToEx(dc, frame.left, y(pct), nullptr);
        LineTo(dc, frame.right, y(pct));
        RECT label = {rect.left, y(pct) - tm.tmHeight / 2, frame.left - 4,
                      y(pct) + tm.tmHeight / 2 + 1};
        DrawTextW(dc, Wide(FixedText(pct, 2)).c_str(), -1, &label,
                  DT_RIGHT | DT_SINGLELINE | DT_VCENTER);
    }
    for (const int mA : {4, 12, 20}) {
        MoveToEx(dc, x(mA), frame.top, nullptr);
        LineTo(dc, x(mA), frame.bottom);
        RECT label = {x(mA) - 20, frame.bottom + 2, x(mA) + 20, rect.bottom};
        DrawTextW(dc, std::to_wstring(mA).c_str(), -1, &label, DT_CENTER | DT_SINGLELINE | DT_TOP);
    }
    for (const bool asLeft : {false, true}) {
        const COLORREF colour = asLeft ? kLeftColour : kFoundColour;
        const HPEN pen = CreatePen(PS_SOLID, 2, colour);
        const HBRUSH dot = CreateSolidBrush(colour);
        SelectObject(dc, pen);
        SelectObject(dc, dot);
        const std::vector<PlotPoint> points = m_presenter.PlotPoints(area, asLeft);
        for (size_t i = 0; i < points.size(); ++i) {
            if (i == 0)
                MoveToEx(dc, points[i].x, points[i].y, nullptr);
            else
                LineTo(dc, points[i].x, points[i].y);
        }
        for (const PlotPoint &p : points) Ellipse(dc, p.x - 4, p.y - 4, p.x + 4, p.y + 4);
        SelectObject(dc, grid);
        SelectObject(dc, GetStockObject(NULL_BRUSH));
        DeleteObject(pen);
        DeleteObject(dot);
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldFont);
    DeleteObject(grid);
}
