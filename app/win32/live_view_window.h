// The live view on Windows: a top-level window of its own, owned by the
// dialog, with both channels' raw value, loop current and display value, a
// trend of the last two minutes drawn with plain GDI, the rate, pause, "Save
// as CSV" and the two-point capture. CLiveView does the work and
// CLivePresenter says what to show; this only draws it and gives it a timer.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "live_presenter.h"
#include "window_parts.h"

class CLiveViewWindow : public CObjectWindow {
public:
    // owner: the dialog, which the window stays above; texts: the words it
    // shows.
    CLiveViewWindow(CLiveView &live, HWND owner, const ITexts &texts);
    // Stops the live view, which logs through the dialog: the dialog must
    // still be there.
    ~CLiveViewWindow() override;

    // Starts polling and shows the window (or brings it to the front).
    void Open();
    // Stops polling and hides the window, as its close box does.
    void Close() override;
    // The window's values and trend, after a sample or a failure.
    void Refresh();

    HWND CaptureButton(int channel, bool twentyMilliamps) const {
        return m_capture[channel][twentyMilliamps ? 1 : 0];
    }
    HWND RateEdit() const { return m_rateEdit; }
    HWND PauseButton() const { return m_pause; }
    HWND ValueLabel(int channel) const { return m_values[channel]; }
    const CLiveViewModel &Model() const { return m_live.Model(); }
    CLiveView &Live() { return m_live; }

private:
    // The channels' colours.
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // The trend.
    void Draw(HDC dc, const RECT &rect) override;
    void OnCommand(int id, int code) override;
    HWND AddControl(const wchar_t *cls, const wchar_t *text, DWORD style, int id);
    SIZE Layout() override;
    void Tick() override;
    void RestartTimer();
    void SaveCsv();
    void Warn(const std::wstring &text);

    CLiveView &m_live;
    const ITexts &m_texts;
    CLivePresenter m_presenter;
    HFONT m_font = nullptr;
    HWND m_values[kChannelCount] = {};
    HWND m_capture[kChannelCount][2] = {};
    HWND m_trend = nullptr;
    HWND m_rateLabel = nullptr;
    HWND m_rateEdit = nullptr;
    HWND m_rateUpDown = nullptr;
    HWND m_pause = nullptr;
    HWND m_save = nullptr;
    HWND m_summary = nullptr;
    std::vector<TrendPoint> m_points;
    bool m_timerRunning = false;
};
