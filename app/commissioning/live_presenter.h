// What both windows show of the live view, as text and points: the values
// and their levels, the summary, the trend's scale, legend and curves, and
// the captions of its controls. Each window only draws what this gives it
// and routes the input to CLiveView.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "live_view.h"
#include "ui_text.h"

struct TrendPoint {
    int x = 0, y = 0;
};

// The trend's drawing area in pixels.
struct TrendArea {
    double left = 0, top = 0, width = 0, height = 0;
};

class CLivePresenter {
public:
    // texts: where the window's texts come from (its toolkit's translation).
    explicit CLivePresenter(const CLiveView &live, const ITexts &texts = SourceTexts())
        : m_live(live), m_texts(texts) {}

    // "CH.1   1639   8.005 mA   250.3   (out of range)", or "CH.1   -"
    // before the first reading.
    std::string ValueText(int channel) const;
    // The longest a value text can be, for a window that sizes its label once.
    std::string WidestValueText() const;
    // "12 samples, 1 failed".
    std::string SummaryText() const;
    std::string WidestSummaryText() const;
    // What a capture without two steady seconds says.
    std::string CaptureProblem(const CaptureResult &result) const;

    // The trend: loop current when the ranges are known, else the raw counts
    // of a 12-bit converter; three marked levels and a legend.
    bool Milliamps() const { return m_live.Model().Ranges().has_value(); }
    std::array<int, 3> Marks() const;
    std::string Legend() const;
    // The y of a value (mA or counts) in area.
    double Y(const TrendArea &area, double value) const;
    // A channel's curve over the trend's span, one point a pixel column at
    // most, into points (kept by the window from paint to paint, so that a
    // redraw allocates nothing once it has grown).
    void TrendPoints(int channel, const TrendArea &area, std::vector<TrendPoint> &points) const;

    // The window's title and its controls' captions.
    std::string Title() const { return Tr(UiText::LiveTitle); }
    std::string CaptureCaption(bool twentyMilliamps) const {
        return Tr(twentyMilliamps ? UiText::LiveUse20mA : UiText::LiveUse4mA);
    }
    std::string RateCaption() const { return Tr(UiText::LiveRate); }
    std::string PauseCaption(bool paused) const {
        return Tr(paused ? UiText::LiveResume : UiText::LivePause);
    }
    std::string SaveCaption() const { return Tr(UiText::LiveSaveCsv); }
    std::string CsvFiles() const { return Tr(UiText::CsvFiles); }
    static const char *CsvFileName() { return "live.csv"; }
    // "Cannot write PATH: why".
    std::string CannotWrite(const std::string &path, const std::string &why) const {
        return Fill(Tr(UiText::CannotWrite), {path, why});
    }

private:
    std::string Tr(UiText id) const { return m_texts.Text(id); }

    const CLiveView &m_live;
    const ITexts &m_texts;
};
