// loopctl calibrate: the calibration procedure on the run's session, its
// prompts on standard error answered on standard input (a terminal or a
// pipe: a script can answer them) or a source command run for each point,
// the record written as JSON and HTML, and a summary (or the record with
// --json) on standard output.
#include <cerrno>
#include <cstdio>
#include <string>

#include "calibration.h"
#include "command_run.h"
#include "files.h"
#include "folders.h"
#include "machine_text.h"
#include "run_command.h"
#include "system_error.h"

namespace {

constexpr int kSourceLimitMs = 60000;

std::string Replaced(std::string text, const std::string &what, const std::string &with) {
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

// One line of standard input without its line end; false at its end.
bool ReadLine(std::string &line) {
    line.clear();
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, stdin)) {
        line += chunk;
        if (!line.empty() && line.back() == '\n') return true;
    }
    return !line.empty();
}

void PointsText(std::string &text, const char *title, const std::vector<CalPoint> &points) {
    text += std::string(title) + "\n  nominal  applied    counts     display    expected  error %  result\n";
    char line[160];
    for (const CalPoint &p : points) {
        std::snprintf(line, sizeof line, "  %7.3f  %7.3f  %8.1f  %10.3f  %10.3f  %7.3f  %s%s\n",
                      p.nominalMa, p.appliedMa, p.adc, p.display, p.expectedDisplay, p.errorPctSpan,
                      p.pass ? "pass" : "fail", p.steady ? "" : " (unsteady)");
        text += line;
    }
}

std::string SummaryText(const CalRecord &r) {
    std::string text = "CH." + std::to_string(r.channel) + ", tolerance " +
                       FixedText(r.tolerancePct, 3) + " % of span\n";
    PointsText(text, "as found", r.asFound);
    if (r.passAsFound) text += std::string("verdict as found: ") + (*r.passAsFound ? "pass" : "fail") + "\n";
    if (r.configAfter) {
        const ChannelRanges was = ChannelOf(r.configBefore, r.channel),
                            now = ChannelOf(*r.configAfter, r.channel);
        text += "reference range written: " + std::to_string(now.refMin) + " to " +
                std::to_string(now.refMax) + " (was " + std::to_string(was.refMin) + " to " +
                std::to_string(was.refMax) + ")\n";
    }
    if (!r.asLeft.empty()) PointsText(text, "as left", r.asLeft);
    if (r.passAsLeft) text += std::string("verdict as left: ") + (*r.passAsLeft ? "pass" : "fail") + "\n";
    if (!r.complete) text += "incomplete: " + r.stopReason + "\n";
    return text;
}

}  // namespace

// The operator's (or the source's) part of one point; false when the
// procedure must stop, with why in *why and the status in *code.
bool CRun::ApplySource(const CCalibration &cal, std::string *why, int *code) {
    const double nominal = cal.NominalMa();
    const std::string mA = FixedText(nominal, 3);
    const std::string where = std::string(cal.AsLeft() ? "as left" : "as found") + ", point " +
                              std::to_string(cal.PointIndex() + 1) + " of " +
                              std::to_string(m_o.calibration.points.size());
    if (!m_o.sourceCommand.empty()) {
        const std::string command = Replaced(m_o.sourceCommand, "{mA}", mA);
        m_host.Say("Apply " + mA + " mA to CH." + std::to_string(m_o.calibration.channel) + " (" +
                   where + "): " + command);
        const CommandResult run = RunCommand(command, kSourceLimitMs);
        if (run.ran && run.exitCode == 0) {
            m_applied = nominal;
            return true;
        }
        *why = "the source command failed: " +
               (run.ran ? "it answered " + std::to_string(run.exitCode) : run.problem);
        *code = kExitSystem;
        return false;
    }
    for (;;) {
        std::fprintf(stderr,
                     "loopctl: %sApply %s mA to CH.%d (%s); press Enter when it is applied, or type "
                     "the current the reference shows: ",
                     m_prefix.c_str(), mA.c_str(), m_o.calibration.channel, where.c_str());
        std::fflush(stderr);
        std::string line, error;
        if (!ReadLine(line)) {
            *why = "the operator's answers ended (end of input)";
            *code = kExitUsage;
            return false;
        }
        if (ParseApplied(line, nominal, &m_applied, error)) return true;
        m_host.Say(error + "; once more");
    }
}

int CRun::Calibrate() {
    CCalibration cal(m_session);
    std::string error;
    if (!cal.Start(m_o.calibration, error)) return Fail(kExitUsage, error);
    int stopCode = kExitOk;
    std::string stopWhy;
    for (;;) {
        const CCalibration::Step step = cal.CurrentStep();
        if (step == CCalibration::Step::Done || step == CCalibration::Step::Stopped) break;
        if (step == CCalibration::Step::AwaitingSource) {
            if (ApplySource(cal, &stopWhy, &stopCode))
                cal.SourceApplied(m_applied);
            else
                cal.Stop(stopWhy);
            continue;
        }
        if (step == CCalibration::Step::AwaitingAdjust) {
            // Without --adjust the device is left as it was found.
            cal.Finish();
            continue;
        }
        if (!m_host.RunOnce(static_cast<int>(cal.TickMs())))
            return Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
        cal.Tick();
    }
    const CalRecord &record = cal.Record();
    const int saved = SaveRecord(record);
    if (m_o.json)
        std::fputs(RecordJson(record, true).c_str(), stdout);
    else
        std::fputs(SummaryText(record).c_str(), stdout);
    m_result.streamed = true;
    if (!record.complete) {
        using Cause = CCalibration::StopCause;
        int code = stopCode;
        switch (cal.Cause()) {
            case Cause::LineLost: code = kExitLineLost; break;
            case Cause::NotSent: code = kExitPortOpen; break;
            case Cause::NoAnswer: code = kExitTimeout; break;
            case Cause::DeviceError:
            case Cause::Unusable: code = kExitDeviceError; break;
            case Cause::None:
            case Cause::Operator: break;
        }
        m_host.Say("calibration incomplete: " + record.stopReason);
        return code == kExitOk ? kExitSystem : code;
    }
    if (saved != kExitOk) return saved;
    const std::optional<bool> last = record.passAsLeft ? record.passAsLeft : record.passAsFound;
    return last && *last ? kExitOk : kExitDeviceError;
}

int CRun::SaveRecord(const CalRecord &record) {
    std::string jsonPath = m_o.record, htmlPath = m_o.report;
    if (jsonPath.empty() && htmlPath.empty()) {
        const std::string folder = DefaultRecordFolder();
        if (folder.empty() || !CreateFolders(folder)) {
            m_host.Say("the record was not saved: no records folder" +
                       (folder.empty() ? std::string() : " " + folder + ": " + ErrorText(errno)));
            return kExitSystem;
        }
        const std::string base = folder + RecordBaseName(record);
        jsonPath = base + ".json";
        htmlPath = base + ".html";
    }
    int code = kExitOk;
    const auto save = [&](const std::string &path, const std::string &contents) {
        if (path.empty()) return;
        if (ReplaceFileContents(path, contents)) {
            m_host.Say("record: " + path);
        } else {
            m_host.Say("the record was not saved in " + path + ": " + ErrorText(errno));
            code = kExitSystem;
        }
    };
    save(jsonPath, RecordJson(record));
    save(htmlPath, RecordHtml(record));
    return code;
}
