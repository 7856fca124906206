// The calibration on Windows: a top-level window of its own, owned by the
// dialog, with the settings, Start and Stop, the prompt, the applied current
// and Next, the point table (a list view), the verdicts, the error plot drawn
// with plain GDI, Adjust and Finish, and the record saved and opened.
// CCalibrationPresenter runs the procedure and says what to show; this only
// draws it, routes the buttons and gives the procedure a timer.
#pragma once

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <array>
#include <string>
#include <vector>

#include "calibration_presenter.h"
#include "window_parts.h"

class CCalibrationWindow : public CObjectWindow {
public:
    using Text = CCalibrationPresenter::Text;

    // The procedure works through session; owner: the dialog, which the
    // window stays above; texts: the words it shows.
    CCalibrationWindow(CDeviceSession &session, HWND owner, const ITexts &texts);
    // Stops a procedure still running: its requests go through the dialog's
    // session, which must still be there.
    ~CCalibrationWindow() override;

    // Shows the window (or brings it to the front), its timer running.
    void Open();
    // Stops the procedure and hides the window, as its close box does; the
    // record stays, to be saved when it opens again.
    void Close() override;
    // The window's texts, table, buttons and plot after a change.
    void Refresh();

    // The control a caption names: a settings field, the channel selector,
    // the applied current, a button, or (Folder) the records folder's line.
    HWND Control(Text text) const { return m_controls[static_cast<size_t>(text)]; }
    HWND PromptLabel() const { return m_prompt; }
    HWND VerdictLabel() const { return m_verdicts; }
    // The files last saved, one a line.
    HWND SavedLabel() const { return m_saved; }
    HWND Table() const { return m_table; }
    CCalibrationPresenter &Presenter() { return m_presenter; }

private:
    // The table's colours.
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The error plot.
    void Draw(HDC dc, const RECT &rect) override;
    void OnCommand(int id, int code) override;
    void Tick() override { m_presenter.Tick(); }
    LRESULT OnTableDraw(NMLVCUSTOMDRAW *draw) const;
    SIZE Layout() override;
    void Route(Text button);
    void FillTable();
    void FitColumns();
    void Warn(const std::string &text);
    std::wstring Caption(Text text) const;

    const ITexts &m_texts;
    CCalibrationPresenter m_presenter;
    HFONT m_font = nullptr, m_bold = nullptr;
    std::array<HWND, static_cast<size_t>(Text::Folder) + 1> m_controls{};
    std::array<HWND, static_cast<size_t>(Text::Folder) + 1> m_labels{};
    HWND m_prompt = nullptr, m_verdicts = nullptr, m_saved = nullptr;
    HWND m_table = nullptr, m_plot = nullptr;
    std::vector<CalRow> m_rows;  // as the table shows them
    int m_tableWidth = 0;        // the table's columns, frame and scroll bar
    std::string m_htmlPath;      // the record last saved, for "Open record"
};
