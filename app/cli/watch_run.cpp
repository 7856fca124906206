// loopctl watch: ADC reads one after another through the dialog's quiet live
// read (no log line per sample), a line each on standard output, the loop
// current and display value derived from the ranges read once at the start,
// and a summary on standard error. Nothing grows with the number of samples.
#include <chrono>
#include <cinttypes>
#include <ctime>
#include <cmath>
#include <csignal>
#include <cstdio>

#include "clock.h"
#include "command_run.h"
#include "loop_values.h"
#include "sample_stats.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
ConsoleView *g_view = nullptr;

extern "C" void StopWatching(int) {
    g_stop = 1;
    // Only a write to the loop's wake-up: safe in a signal handler.
    if (g_view) g_view->Wake();
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

}  // namespace

int CRun::Sample(ResponseOutcome &out, std::string &error) {
    m_view.ForgetOutcomes();
    if (m_dlg.SendLiveRead() != CLoopsetDlg::LiveSend::Sent) {
        error = "cannot send to " + PortText();
        return kExitPortOpen;
    }
    StartClock();
    const int code = AwaitAnswer(CMD_GET_ADC_VALUE, &out);
    if (code == kExitTimeout) error = "no answer within " + TimeoutText();
    if (code == kExitDeviceError) error = std::string("the device answered with an error: ") + out.text;
    if (code != kExitOk && error.empty()) error = m_result.error;
    return code;
}

int CRun::Watch() {
    std::optional<LoopRanges> ranges;
    if (!m_o.noDerived) {
        ResponseOutcome config;
        const int code = Exchange(Command::ConfigRead, &config);
        if (code != kExitOk) {
            if (code == kExitDeviceError)
                Fail(code, std::string("the configuration read failed: ") + config.text);
            return code;
        }
        ranges = RangesOf(config.config);
    }
    g_stop = 0;
    g_view = &m_view;
    m_view.SetStopFlag(&g_stop);
    auto previousInt = std::signal(SIGINT, StopWatching);
    auto previousTerm = std::signal(SIGTERM, StopWatching);
    if (m_o.csv) std::puts("time,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display,error");

    CSampleStats stats[kChannelCount];
    uint64_t samples = 0, failures = 0;
    int result = kExitOk;
    const int64_t periodMs = std::llround(m_o.intervalSeconds * 1000.0);
    const int64_t start = MonotonicMillis();
    for (long i = 0; !g_stop && (m_o.count == 0 || i < m_o.count); ++i) {
        // On a schedule from the start, so that slow answers do not add up.
        for (int64_t due = start + i * periodMs; !g_stop && MonotonicMillis() < due;) {
            if (!m_view.RunOnce(static_cast<int>(due - MonotonicMillis()))) break;
        }
        if (g_stop) break;
        ResponseOutcome out;
        std::string error;
        const int code = Sample(out, error);
        const std::string time = TimeText();
        ++samples;
        Json j;
        j["time"] = time;
        std::string text = time, csv = time;
        if (code != kExitOk) {
            ++failures;
            if (result == kExitOk) result = code;
            j["error"] = error;
            text += "  error: " + error;
            csv += ",,,,,,," + error;
        } else {
            for (int ch = 0; ch < kChannelCount; ++ch) {
                const uint16_t adc = ch == 0 ? out.ch1 : out.ch2;
                stats[ch].Add(adc);
                Json c;
                c["adc"] = adc;
                char line[96];
                std::snprintf(line, sizeof line, "  CH.%d %5u", ch + 1, adc);
                text += line;
                csv += "," + std::to_string(adc);
                const auto d = ranges ? Derive((*ranges)[static_cast<size_t>(ch)], adc)
                                      : std::optional<DerivedValue>();
                if (d) {
                    c["mA"] = std::round(d->milliamps * 1000) / 1000;
                    c["display"] = std::round(d->display * 1000) / 1000;
                    c["level"] = LevelText(d->level);
                    std::snprintf(line, sizeof line, " %7.3f mA %10.3f%s", d->milliamps,
                                  d->display,
                                  d->level == LoopLevel::Normal
                                      ? ""
                                      : (std::string(" (") + LevelText(d->level) + ")").c_str());
                    text += line;
                    std::snprintf(line, sizeof line, ",%.3f,%.3f", d->milliamps, d->display);
                    csv += line;
                } else {
                    csv += ",,";
                }
                j["ch" + std::to_string(ch + 1)] = c;
            }
            csv += ",";
        }
        if (m_o.json)
            PrintJson(j);
        else
            std::puts(m_o.csv ? csv.c_str() : text.c_str());
        // A reader at the other end of a pipe sees each sample as it comes.
        std::fflush(stdout);
        if (code == kExitLineLost) break;
    }
    std::signal(SIGINT, previousInt);
    std::signal(SIGTERM, previousTerm);
    m_view.SetStopFlag(nullptr);
    g_view = nullptr;

    std::fprintf(stderr, "loopctl: %swatch: %" PRIu64 " samples, %" PRIu64 " failed", m_prefix.c_str(),
                 samples, failures);
    for (int ch = 0; ch < kChannelCount; ++ch) {
        if (stats[ch].Count() == 0) continue;
        std::fprintf(stderr, "; CH.%d min %.0f mean %.2f max %.0f sd %.2f", ch + 1, stats[ch].Min(),
                     stats[ch].Mean(), stats[ch].Max(), stats[ch].StdDev());
    }
    std::fputs(" (raw ADC counts)\n", stderr);
    return result;
}
