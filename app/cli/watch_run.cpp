// loopctl watch: quiet ADC reads one after another through the session (no
// log line per sample), a line each on standard output, the loop current and
// display value derived from the ranges read once at the start, and a
// summary on standard error. Nothing grows with the number of samples.
//
// It ends when the count is reached; on SIGINT or SIGTERM once the sample on
// its way has its answer or its time-out (exit 0); when the line is lost
// (exit 6); and when standard output can no longer be written (exit 5).
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "clock.h"
#include "command_run.h"
#include "loop_values.h"
#include "system_error.h"
#include "machine_text.h"
#include "sample_stats.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
CConsoleHost *g_host = nullptr;

extern "C" void StopWatching(int) {
    g_stop = 1;
    // Only a write to the loop's wake-up: safe in a signal handler.
    if (g_host) g_host->Wake();
}

// Local time to the millisecond, from one reading of the clock. Watch runs on
// one thread, so the C library's shared buffer of localtime is safe here.
std::string TimeText() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    char text[40] = "";
    if (const std::tm *t = std::localtime(&seconds))
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", t);
    char withMs[48];
    std::snprintf(withMs, sizeof withMs, "%s.%03d", text, static_cast<int>(ms));
    return withMs;
}

using SampleLine = CRun::SampleLine;

void AddChannel(SampleLine &line, int ch, uint16_t adc, const std::optional<LoopRanges> &ranges) {
    Json c;
    c["adc"] = adc;
    char cell[96];
    std::snprintf(cell, sizeof cell, "  CH.%d %5u", ch + 1, adc);
    line.text += cell;
    line.csv += "," + std::to_string(adc) + ",";
    const auto d = ranges ? Derive((*ranges)[static_cast<size_t>(ch)], adc)
                          : std::optional<DerivedValue>();
    if (d) {
        const double scale = std::pow(10.0, kMilliampDecimals);
        c["mA"] = std::round(d->milliamps * scale) / scale;
        c["display"] = std::round(d->display * 1000) / 1000;
        c["level"] = LevelText(d->level);
        std::snprintf(cell, sizeof cell, " %7.*f mA %10.3f", kMilliampDecimals, d->milliamps,
                      d->display);
        line.text += cell;
        if (d->level != LoopLevel::Normal) line.text += std::string(" (") + LevelText(d->level) + ")";
        AppendFixed(line.csv, d->milliamps, kMilliampDecimals);
        line.csv += ",";
        AppendFixed(line.csv, d->display, 3);
    } else {
        line.csv += ",";
    }
    line.json["ch" + std::to_string(ch + 1)] = c;
}

}  // namespace

int CRun::Watch() {
    std::optional<LoopRanges> ranges;
    if (!m_o.noDerived) {
        ResponseOutcome config;
        const int code = Exchange(CMD_GET_CONFIG_DATA, {}, &config);
        if (code != kExitOk) {
            if (code == kExitDeviceError)
                Fail(code, std::string("the configuration read failed: ") + ResultText(config));
            return code;
        }
        ranges = RangesOf(config.config);
    }
    g_stop = 0;
    g_host = &m_host;
    m_host.SetStopFlag(&g_stop);
    auto previousInt = std::signal(SIGINT, StopWatching);
    auto previousTerm = std::signal(SIGTERM, StopWatching);
    int result = kExitOk;
    bool written = true;
    errno = 0;
    if (m_o.csv)
        written = std::puts("time,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display,error") >= 0 &&
                  std::fflush(stdout) == 0;
    if (!written) result = ReportOutputFailure(errno);

    CSampleStats stats[kChannelCount];
    uint64_t samples = 0, failures = 0;
    SessionRequest request;
    request.command = CMD_GET_ADC_VALUE;
    request.timeoutMs = TimeoutMs();
    request.quiet = true;
    const int64_t periodMs = std::llround(m_o.intervalSeconds * 1000.0);
    const int64_t start = MonotonicMillis();
    for (long i = 0; written && !g_stop && (m_o.count == 0 || i < m_o.count); ++i) {
        // On a schedule from the start, so that slow answers do not add up.
        for (int64_t due = start + i * periodMs; !g_stop && MonotonicMillis() < due;) {
            if (!m_host.RunOnce(static_cast<int>(due - MonotonicMillis()))) break;
        }
        if (g_stop) break;
        // A stop from here on ends the watch after this sample: its answer
        // or its time-out, whichever comes first.
        RequestOutcome outcome;
        if (!Request(request, &outcome)) {
            result = Fail(kExitSystem, "waiting failed: " + ErrorText(errno));
            break;
        }
        const SampleLine line = LineOf(outcome, ranges, stats);
        ++samples;
        if (!outcome.Succeeded()) {
            ++failures;
            if (result == kExitOk) result = Judge(outcome);
        }
        written = Print(line);
        if (!written) result = ReportOutputFailure(errno);
        // A line that is gone or a port that is closed answers no later
        // sample either.
        if (outcome.status == RequestOutcome::Status::LineLost ||
            outcome.status == RequestOutcome::Status::NotSent)
            break;
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    m_host.SetStopFlag(nullptr);
    g_host = nullptr;

    PrintSummary(samples, failures, stats);
    return result;
}

CRun::SampleLine CRun::LineOf(const RequestOutcome &outcome, const std::optional<LoopRanges> &ranges,
                              CSampleStats *stats) const {
    SampleLine line;
    const std::string time = TimeText();
    line.json["time"] = time;
    line.text = line.csv = time;
    if (outcome.Succeeded()) {
        const ResponseOutcome &a = outcome.answer;
        stats[0].Add(a.ch1);
        stats[1].Add(a.ch2);
        AddChannel(line, 0, a.ch1, ranges);
        AddChannel(line, 1, a.ch2, ranges);
        line.csv += ",";
        return line;
    }
    std::string error;
    switch (outcome.status) {
        case RequestOutcome::Status::Answered:
            error = std::string("the device answered with an error: ") + ResultText(outcome.answer);
            break;
        case RequestOutcome::Status::TimedOut:
            error = "no answer within " + TimeoutText();
            break;
        case RequestOutcome::Status::LineLost:
            error = "lost " + PortText() + ": " + outcome.reason;
            break;
        case RequestOutcome::Status::NotSent:
            error = "cannot send to " + PortText() + ": " + outcome.reason;
            break;
    }
    line.json["error"] = error;
    line.text += "  error: " + error;
    line.csv += ",,,,,,," + CsvField(error);
    return line;
}

bool CRun::Print(const SampleLine &line) const {
    errno = 0;
    if (m_o.json)
        PrintJson(line.json);
    else
        std::puts(m_o.csv ? line.csv.c_str() : line.text.c_str());
    // A reader at the other end of a pipe sees each sample as it comes, and
    // one that has gone ends the watch: nobody reads the samples.
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void CRun::PrintSummary(uint64_t samples, uint64_t failures, const CSampleStats *stats) const {
    std::fprintf(stderr, "loopctl: %swatch: %" PRIu64 " samples, %" PRIu64 " failed", m_prefix.c_str(),
                 samples, failures);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (stats[ch].Count() == 0) continue;
        std::fprintf(stderr, "; CH.%d min %.0f mean %.2f max %.0f sd %.2f", ch + 1, stats[ch].Min(),
                     stats[ch].Mean(), stats[ch].Max(), stats[ch].StdDev());
    }
    std::fputs(" (raw ADC counts)\n", stderr);
}
