// What both windows show of a calibration and how they start it: the
// settings typed into their fields checked and turned into a procedure, the
// prompt, the point table, the verdicts, the error plot's scale and points,
// which buttons can be pressed, and the record saved. Each window only draws
// what this gives it and routes its buttons here.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "calibration.h"
#include "ui_text.h"

// The settings fields as typed.
struct CalFields {
    int channel = 1;  // 1 or 2, from a selector
    std::string points = "4,8,12,16,20";
    std::string tolerance = "0.25";
    std::string tag, operatorName, reference;
};

// One row of the point table: table ("as found" / "as left"), nominal mA,
// applied mA, counts, display found, display expected, error % span, result.
using CalRow = std::array<std::string, 8>;

// The error plot's drawing area in pixels, and a point in it.
struct PlotArea {
    double left = 0, top = 0, width = 0, height = 0;
};
struct PlotPoint {
    int x = 0, y = 0;
};

class CCalibrationPresenter {
public:
    // texts: where the window's texts come from (its toolkit's translation).
    explicit CCalibrationPresenter(CDeviceSession &session, const ITexts &texts = SourceTexts())
        : m_cal(session), m_texts(texts) {}

    // Starts with the fields' settings; the error text when they cannot be used.
    std::string Start(const CalFields &fields);
    // Next: the operator has applied the current; appliedText is what the
    // reference shows (empty: the nominal). The error text when it is no
    // current near enough the nominal.
    std::string Next(const std::string &appliedText);
    void Adjust() { m_cal.Adjust(); }
    void Finish() { m_cal.Finish(); }
    void Stop() { m_cal.Stop(kStoppedByOperator); }
    // The window's timer, every TickMs().
    void Tick() { m_cal.Tick(); }
    unsigned TickMs() const { return m_cal.TickMs(); }

    bool CanStart() const;
    bool CanNext() const { return m_cal.CurrentStep() == CCalibration::Step::AwaitingSource; }
    bool CanAdjust() const { return m_cal.CurrentStep() == CCalibration::Step::AwaitingAdjust; }
    bool CanFinish() const { return CanAdjust(); }
    bool CanStop() const { return !CanStart(); }
    // A record with something in it: the points so far, complete or not.
    bool CanSave() const;

    // What the operator is to do now, in one or two sentences.
    std::string Prompt() const;
    std::vector<CalRow> Rows() const;
    CalRow Header() const;
    // "As found: fail   As left: pass", the parts known so far.
    std::string VerdictText() const;
    // Saves the record as JSON and HTML in folder (default: the user's
    // records folder); the paths written, or the error text.
    std::string SaveRecord(std::string *jsonPath, std::string *htmlPath,
                           const std::string &folder = {}) const;
    // Where records go.
    static std::string RecordFolder() { return DefaultRecordFolder(); }

    // The plot: error % span against the applied current, a symmetric scale
    // that holds the tolerance band and every point.
    double PlotRange() const;
    double X(const PlotArea &area, double milliamps) const;
    double Y(const PlotArea &area, double pct) const;
    std::vector<PlotPoint> PlotPoints(const PlotArea &area, bool asLeft) const;

    // The window's title and its controls' captions.
    enum class Text {
        Title, Channel, Points, Tolerance, Tag, Operator, Reference, Start, Stop, Applied, Next,
        Adjust, Finish, Save, Open, Folder,
    };
    std::string Caption(Text text) const;

    CCalibration &Procedure() { return m_cal; }
    const CalRecord &Record() const { return m_cal.Record(); }
    // The steady window of the next Start (the procedure's default unless
    // set): lets a test through a point in a fraction of the usual time.
    void SetSteadySeconds(double seconds) { m_steadySeconds = seconds; }

private:
    std::string Tr(UiText id) const { return m_texts.Text(id); }
    // Why the procedure stopped, in the window's words.
    std::string StopText() const;

    CCalibration m_cal;
    const ITexts &m_texts;
    double m_steadySeconds = CalSettings{}.steadySeconds;
};
