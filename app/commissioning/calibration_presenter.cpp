#include "calibration_presenter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "files.h"
#include "folders.h"
#include "machine_text.h"

std::string CCalibrationPresenter::Start(const CalFields &fields) {
    CalSettings settings;
    settings.channel = fields.channel;
    settings.steadySeconds = m_steadySeconds;
    std::string error;
    settings.points = ParsePoints(fields.points, error);
    if (settings.points.empty()) return error;
    char *end = nullptr;
    settings.tolerancePct = std::strtod(fields.tolerance.c_str(), &end);
    if (fields.tolerance.empty() || *end != '\0')
        return "the tolerance must be a percentage of the span above 0, not '" + fields.tolerance + "'";
    settings.tag = fields.tag;
    settings.operatorName = fields.operatorName;
    settings.reference = fields.reference;
    m_cal.Start(settings, error);
    return error;
}

std::string CCalibrationPresenter::Next(const std::string &appliedText) {
    double applied = 0;
    std::string error;
    if (!ParseApplied(appliedText, m_cal.NominalMa(), &applied, error)) return error;
    m_cal.SourceApplied(applied);
    return {};
}

bool CCalibrationPresenter::CanStart() const {
    const CCalibration::Step step = m_cal.CurrentStep();
    return step == CCalibration::Step::Idle || step == CCalibration::Step::Done ||
           step == CCalibration::Step::Stopped;
}

bool CCalibrationPresenter::CanSave() const {
    return m_cal.CurrentStep() != CCalibration::Step::Idle && !m_cal.Record().time.empty();
}

std::string CCalibrationPresenter::Prompt() const {
    using Step = CCalibration::Step;
    const CalRecord &r = m_cal.Record();
    const std::string channel = "CH." + std::to_string(r.channel);
    const std::string point = std::string(m_cal.AsLeft() ? "as left" : "as found") + ", point " +
                              std::to_string(m_cal.PointIndex() + 1);
    switch (m_cal.CurrentStep()) {
        case Step::Idle:
            return "Choose the channel and the test points, then Start.";
        case Step::ReadingConfig:
            return "Reading the configuration of " + channel + "...";
        case Step::AwaitingSource:
            return "Apply " + FixedText(m_cal.NominalMa(), 3) + " mA to " + channel + " (" + point +
                   "), then Next. Type the current the reference shows if it differs.";
        case Step::Settling:
            return "Waiting for a steady reading (" + point + ", " +
                   FixedText(m_cal.SettlingSeconds(), 1) + " s)...";
        case Step::AwaitingAdjust:
            return std::string("As found: ") + (r.passAsFound && *r.passAsFound ? "pass" : "fail") +
                   ". Adjust writes a new reference range for " + channel +
                   " and checks it as left; Finish leaves the device as found.";
        case Step::Writing:
            return "Writing the adjusted range of " + channel + " and reading it back...";
        case Step::Done:
            return "Done. Save the record.";
        case Step::Stopped:
            return "Stopped: " + r.stopReason + ".";
    }
    return {};
}

const CalRow &CCalibrationPresenter::Header() {
    static const CalRow header = {"",        "Nominal mA", "Applied mA", "Counts",
                                  "Display", "Expected",   "Error % span", "Result"};
    return header;
}

std::vector<CalRow> CCalibrationPresenter::Rows() const {
    std::vector<CalRow> rows;
    const auto add = [&](const char *table, const std::vector<CalPoint> &points) {
        for (const CalPoint &p : points)
            rows.push_back({table, FixedText(p.nominalMa, 3), FixedText(p.appliedMa, 3),
                            FixedText(p.adc, 1), FixedText(p.display, 3),
                            FixedText(p.expectedDisplay, 3), FixedText(p.errorPctSpan, 3),
                            std::string(p.pass ? "pass" : "fail") + (p.steady ? "" : " (unsteady)")});
    };
    add("as found", m_cal.Record().asFound);
    add("as left", m_cal.Record().asLeft);
    return rows;
}

std::string CCalibrationPresenter::VerdictText() const {
    const CalRecord &r = m_cal.Record();
    std::string text;
    if (r.passAsFound) text = std::string("As found: ") + (*r.passAsFound ? "pass" : "fail");
    if (r.passAsLeft) text += std::string("   As left: ") + (*r.passAsLeft ? "pass" : "fail");
    return text;
}

std::string CCalibrationPresenter::SaveRecord(std::string *jsonPath, std::string *htmlPath,
                                              const std::string &folder) const {
    const std::string where = folder.empty() ? RecordFolder() : folder;
    if (where.empty()) return "the system names no folder for records";
    if (!CreateFolders(where)) return where + ": " + ErrorText(errno);
    const CalRecord &r = m_cal.Record();
    const std::string base = where + RecordBaseName(r);
    *jsonPath = base + ".json";
    *htmlPath = base + ".html";
    if (!ReplaceFileContents(*jsonPath, RecordJson(r))) return *jsonPath + ": " + ErrorText(errno);
    if (!ReplaceFileContents(*htmlPath, RecordHtml(r))) return *htmlPath + ": " + ErrorText(errno);
    return {};
}

double CCalibrationPresenter::PlotRange() const {
    const CalRecord &r = m_cal.Record();
    double range = r.tolerancePct * 2;
    for (const auto *points : {&r.asFound, &r.asLeft})
        for (const CalPoint &p : *points) range = std::max(range, std::abs(p.errorPctSpan) * 1.1);
    return range;
}

double CCalibrationPresenter::X(const PlotArea &area, double milliamps) const {
    return area.left + (milliamps - 2.0) / 20.0 * area.width;
}

double CCalibrationPresenter::Y(const PlotArea &area, double pct) const {
    const double range = PlotRange();
    return area.top + (range - pct) / (2 * range) * area.height;
}

std::vector<PlotPoint> CCalibrationPresenter::PlotPoints(const PlotArea &area, bool asLeft) const {
    std::vector<CalPoint> points = asLeft ? m_cal.Record().asLeft : m_cal.Record().asFound;
    std::sort(points.begin(), points.end(),
              [](const CalPoint &a, const CalPoint &b) { return a.appliedMa < b.appliedMa; });
    std::vector<PlotPoint> plotted;
    for (const CalPoint &p : points)
        plotted.push_back({static_cast<int>(std::lround(X(area, p.appliedMa))),
                           static_cast<int>(std::lround(Y(area, p.errorPctSpan)))});
    return plotted;
}

const char *CCalibrationPresenter::Caption(Text text) {
    switch (text) {
        case Text::Title: return "Calibration";
        case Text::Channel: return "Channel:";
        case Text::Points: return "Test points (mA):";
        case Text::Tolerance: return "Tolerance (% of span):";
        case Text::Tag: return "Device tag:";
        case Text::Operator: return "Operator:";
        case Text::Reference: return "Reference instrument:";
        case Text::Start: return "Start";
        case Text::Stop: return "Stop";
        case Text::Applied: return "Applied mA:";
        case Text::Next: return "Next";
        case Text::Adjust: return "Adjust";
        case Text::Finish: return "Finish";
        case Text::Save: return "Save record";
        case Text::Open: return "Open record";
        case Text::Folder: return "Records go to:";
    }
    return "";
}
