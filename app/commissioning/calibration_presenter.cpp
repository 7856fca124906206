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
    const std::string channel = std::to_string(r.channel);
    const std::string table = Tr(m_cal.AsLeft() ? UiText::CalAsLeft : UiText::CalAsFound);
    const std::string point = std::to_string(m_cal.PointIndex() + 1);
    switch (m_cal.CurrentStep()) {
        case Step::Idle:
            return Tr(UiText::CalPromptIdle);
        case Step::ReadingConfig:
            return Fill(Tr(UiText::CalPromptReading), {channel});
        case Step::AwaitingSource:
            return Fill(Tr(UiText::CalPromptApply), {FixedText(m_cal.NominalMa(), 3), channel, table, point});
        case Step::Settling:
            return Fill(Tr(UiText::CalPromptSettling),
                        {table, point, FixedText(m_cal.SettlingSeconds(), 1)});
        case Step::AwaitingAdjust:
            return Fill(Tr(UiText::CalPromptAdjust),
                        {Tr(r.passAsFound && *r.passAsFound ? UiText::CalPass : UiText::CalFail), channel});
        case Step::Writing:
            return Fill(Tr(UiText::CalPromptWriting), {channel});
        case Step::Done:
            return Tr(UiText::CalPromptDone);
        case Step::Stopped:
            return Fill(Tr(UiText::CalPromptStopped), {StopText()});
    }
    return {};
}

std::string CCalibrationPresenter::StopText() const {
    using Cause = CCalibration::StopCause;
    const std::string &why = m_cal.Record().stopReason;
    switch (m_cal.Cause()) {
        case Cause::None:
        case Cause::Operator: return why == kStoppedByOperator ? Tr(UiText::CalStopOperator) : why;
        case Cause::LineLost: return Fill(Tr(UiText::CalStopLineLost), {m_cal.StopDetail()});
        case Cause::NotSent: return Fill(Tr(UiText::CalStopNotSent), {m_cal.StopDetail()});
        case Cause::NoAnswer: return Fill(Tr(UiText::CalStopNoAnswer), {m_cal.StopDetail()});
        case Cause::DeviceError: return Fill(Tr(UiText::CalStopDevice), {m_cal.StopDetail()});
        case Cause::Unusable: return Fill(Tr(UiText::CalStopUnusable), {m_cal.StopDetail()});
    }
    return why;
}

CalRow CCalibrationPresenter::Header() const {
    return {"",
            Tr(UiText::CalColNominal),
            Tr(UiText::CalColApplied),
            Tr(UiText::CalColCounts),
            Tr(UiText::CalColDisplay),
            Tr(UiText::CalColExpected),
            Tr(UiText::CalColError),
            Tr(UiText::CalColResult)};
}

std::vector<CalRow> CCalibrationPresenter::Rows() const {
    std::vector<CalRow> rows;
    const auto add = [&](UiText table, const std::vector<CalPoint> &points) {
        for (const CalPoint &p : points) {
            std::string result = Tr(p.pass ? UiText::CalPass : UiText::CalFail);
            if (!p.steady) result = Fill(Tr(UiText::CalUnsteady), {result});
            rows.push_back({Tr(table), FixedText(p.nominalMa, 3), FixedText(p.appliedMa, 3),
                            FixedText(p.adc, 1), FixedText(p.display, 3),
                            FixedText(p.expectedDisplay, 3), FixedText(p.errorPctSpan, 3), result});
        }
    };
    add(UiText::CalAsFound, m_cal.Record().asFound);
    add(UiText::CalAsLeft, m_cal.Record().asLeft);
    return rows;
}

std::string CCalibrationPresenter::VerdictText() const {
    const CalRecord &r = m_cal.Record();
    const auto word = [&](bool pass) { return Tr(pass ? UiText::CalPass : UiText::CalFail); };
    std::string text;
    if (r.passAsFound) text = Fill(Tr(UiText::CalVerdictFound), {word(*r.passAsFound)});
    if (r.passAsLeft) text += "   " + Fill(Tr(UiText::CalVerdictLeft), {word(*r.passAsLeft)});
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

std::string CCalibrationPresenter::Caption(Text text) const {
    static constexpr UiText kTexts[] = {
        UiText::CalTitle,     UiText::CalChannel, UiText::CalPoints,   UiText::CalTolerance,
        UiText::CalTag,       UiText::CalOperator, UiText::CalReference, UiText::CalStart,
        UiText::CalStop,      UiText::CalApplied, UiText::CalNext,     UiText::CalAdjust,
        UiText::CalFinish,    UiText::CalSave,    UiText::CalOpen,     UiText::CalFolder,
    };
    return Tr(kTexts[static_cast<size_t>(text)]);
}
