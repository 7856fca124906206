// What both windows show of the live view, as text and points: the values
// and their levels, the summary, the trend's scale, legend and curves, and
// the captions of its controls. Each window only draws what this gives it
// and routes the input to CLiveView.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "live_view.h"

struct TrendPoint {
    int x = 0, y = 0;
};

// The trend's drawing area in pixels.
struct TrendArea {
    double left = 0, top = 0, width = 0, height = 0;
};

class CLivePresenter {
public:
    explicit CLivePresenter(const CLiveView &live) : m_live(live) {}

    // "CH.1   1639   8.005 mA   250.3   (out of range)", or "CH.1   -"
    // before the first reading.
    std::string ValueText(int channel) const;
    // The longest a value text can be, for a window that sizes its label once.
    static const char *WidestValueText() { return "CH.2   65535   -0000.000 mA   -00000.0   (out of range)"; }
    // "12 samples, 1 failed".
    std::string SummaryText() const;
    static const char *WidestSummaryText() { return "0000000000 samples, 0000000000 failed"; }
    // What a capture without two steady seconds says.
    static std::string CaptureProblem(const CaptureResult &result);

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

    // The controls' captions.
    static const char *Title() { return "Live view"; }
    static const char *CaptureCaption(bool twentyMilliamps) {
        return twentyMilliamps ? "Use as 20 mA" : "Use as 4 mA";
    }
    static const char *RateCaption() { return "Samples a second:"; }
    static const char *PauseCaption(bool paused) { return paused ? "Resume" : "Pause"; }
    static const char *SaveCaption() { return "Save as CSV"; }
    static const char *CsvFileName() { return "live.csv"; }

private:
    const CLiveView &m_live;
};
