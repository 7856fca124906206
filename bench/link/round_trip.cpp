// Round trip of the dialog's three requests against loopsim over a pty, with
// the settings file on disk, the real link and portlink, and the dialog
// headless: its timer ticks only while the dialog keeps it running (started
// by a send or an arrival, stopped once nothing is being gathered), as a
// window's would. Times run from the button to the response's last field set
// (click), from the link's Send (its writecom) to the same (send), and from
// Send to the whole answer gathered in the link (wire). Clicks come once the
// window is idle again, as a person's do; a last row clicks as soon as the
// previous answer is shown, as a script may.
// Also counts the heap allocations of the link and portlink: between Send and
// the fields set, and in the handler's Open before it (closecom, opencom...).
//
//   link_round_trip [--requests N]      (default 1000 of each kind)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "alloc_count.h"
#include "headless_view.h"
#include "loopset_dlg.h"
#include "settings.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point g_clickAt;
Clock::time_point g_sendAt;
Clock::time_point g_gatheredAt;
Clock::time_point g_shownAt;
bool g_gathered = false;
bool g_shown = false;
uint64_t g_openUi = 0, g_openListener = 0;

// The UI thread is inside portlink while one of these runs.
struct InLink {
    bool was = alloc_count::InLink();
    InLink() { alloc_count::SetInLink(true); }
    ~InLink() { alloc_count::SetInLink(was); }
};

const PortlinkApi &Real() {
    return RealPortlink();
}

const PortlinkApi kCountedPortlink = {
    [](PortlinkWindow *w) {
        InLink in;
        return Real().initcom(w);
    },
    []() {
        InLink in;
        return Real().destroycom();
    },
    [](int32_t p) {
        InLink in;
        return Real().opencom(p);
    },
    [](int32_t p, int32_t l, int32_t b) {
        InLink in;
        return Real().setcom(p, l, b);
    },
    [](int32_t p, int32_t m) {
        InLink in;
        return Real().setmdm(p, m);
    },
    [](int32_t p, int32_t m) {
        InLink in;
        return Real().flowcom(p, m);
    },
    [](int32_t p, int32_t f) {
        InLink in;
        return Real().ondata(p, f);
    },
    [](int32_t p) {
        InLink in;
        return Real().closecom(p);
    },
    [](int32_t p, const uint8_t *d, int32_t c) {
        // The handler's Open is over: what was counted belongs to it.
        g_openUi += alloc_count::UiCount();
        g_openListener += alloc_count::ListenerCount();
        alloc_count::Reset();
        g_sendAt = Clock::now();
        InLink in;
        return Real().writecom(p, d, c);
    },
    [](int32_t p, uint8_t *b, int32_t *c) {
        InLink in;
        return Real().readcom(p, b, c);
    },
    [](int32_t p, int32_t s) {
        InLink in;
        return Real().clearbfr(p, s);
    },
    [](int32_t p, int32_t a, int32_t b) {
        InLink in;
        return Real().checkbfr(p, a, b);
    },
};

void FieldSet(void *, int id) {
    // Every response sets the extra value last.
    if (id != IDC_EXTRA_VALUE || g_shown) return;
    alloc_count::Close();
    g_shownAt = Clock::now();
    g_shown = true;
}

// The modal loop: until done() holds, or until `until`. Sleeps until the next
// posted message, the next tick of the dialog's timer (when it runs) or
// `until`, whichever is first.
template <typename Done>
bool Pump(CLoopsetDlg &dlg, CHeadlessView &view, Clock::time_point until, Done done,
          uint64_t &ticks) {
    const CDeviceLink &link = dlg.Session().Link();
    while (!done()) {
        const auto now = Clock::now();
        if (now >= until) return false;
        // Counted until the dialog's first log line (its clock is the first
        // thing AddLog calls): that is the link's Tick.
        alloc_count::SetInLink(true);
        const bool ticked = view.FireDueTimer(dlg, now);
        alloc_count::SetInLink(false);
        if (ticked) {
            ++ticks;
            continue;
        }
        WindowMessage msg;
        if (view.TakeMessage(msg, std::min(view.NextTimerDue(), until))) {
            alloc_count::SetInLink(true);
            dlg.PreTranslateMessage(msg);
            alloc_count::SetInLink(false);
            if (!g_gathered && link.FrameGathered()) {
                g_gathered = true;
                g_gatheredAt = Clock::now();
            }
        }
    }
    return true;
}

struct Figures {
    std::vector<double> click, roundTrip, gathered;
    int timeouts = 0;
    uint64_t ui = 0, listener = 0, openUi = 0, openListener = 0;
    uint64_t ticks = 0, wakes = 0;  // timer ticks, and timer starts from sleep
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t at =
        std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())));
    return v[at];
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// How a click follows the last answer: once the window is idle again (its
// timer stopped), as a person's does, or at once, as a script's may.
enum class Clicks { kWhenIdle, kBackToBack };

template <typename Press>
Figures Run(CLoopsetDlg &dlg, CHeadlessView &view, int count, Press press,
            Clicks clicks = Clicks::kWhenIdle) {
    Figures f;
    f.click.reserve(static_cast<size_t>(count));
    f.roundTrip.reserve(static_cast<size_t>(count));
    f.gathered.reserve(static_cast<size_t>(count));
    g_openUi = g_openListener = 0;
    uint64_t between = 0;
    for (int i = 0; i < count; ++i) {
        if (clicks == Clicks::kWhenIdle)
            Pump(
                dlg, view, Clock::now() + std::chrono::seconds(2),
                [&] { return !view.TimerRunning(0); }, between);

        g_shown = g_gathered = false;
        const unsigned startsBefore = view.TimerStarts(0);
        alloc_count::Reset();
        alloc_count::Open();
        g_clickAt = Clock::now();
        press(dlg);
        const bool shown = Pump(
            dlg, view, Clock::now() + std::chrono::seconds(2), [] { return g_shown; }, f.ticks);
        alloc_count::Close();
        f.wakes += view.TimerStarts(0) - startsBefore;
        f.ui += alloc_count::UiCount();
        f.listener += alloc_count::ListenerCount();
        if (!shown) {
            ++f.timeouts;
            continue;
        }
        f.click.push_back(Micros(g_shownAt - g_clickAt));
        f.roundTrip.push_back(Micros(g_shownAt - g_sendAt));
        if (g_gathered) f.gathered.push_back(Micros(g_gatheredAt - g_sendAt));
    }
    f.openUi = g_openUi;
    f.openListener = g_openListener;
    return f;
}

double PerRequest(uint64_t total, int count) {
    return static_cast<double>(total) / count;
}

void Print(const char *name, const Figures &f, int count) {
    printf(
        "%-20s %7.0f %7.0f   %7.0f %7.0f %7.0f   %7.0f %7.0f   %5d   %5.2f %5.2f   %5.2f %5.2f"
        "   %5.2f %5.2f\n",
        name, Percentile(f.click, 0.5), Percentile(f.click, 0.99), Percentile(f.roundTrip, 0.5),
        Percentile(f.roundTrip, 0.99),
        f.roundTrip.empty() ? 0 : *std::max_element(f.roundTrip.begin(), f.roundTrip.end()),
        Percentile(f.gathered, 0.5), Percentile(f.gathered, 0.99), f.timeouts,
        PerRequest(f.ui, count), PerRequest(f.listener, count), PerRequest(f.openUi, count),
        PerRequest(f.openListener, count), PerRequest(f.ticks, count), PerRequest(f.wakes, count));
}

}  // namespace

int main(int argc, char **argv) {
    int count = 1000;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--requests") && i + 1 < argc) {
            count = atoi(argv[++i]);
        } else {
            fprintf(stderr, "usage: %s [--requests N]\n", argv[0]);
            return 2;
        }
    }
    if (count < 1) count = 1;
    alloc_count::MarkUiThread();

    CSimProcess sim;
    if (!sim.Start(LOOPSIM_PATH, {})) {
        fprintf(stderr, "loopsim did not start: %s\n", sim.Log().c_str());
        return 1;
    }
    setenv("PORTLINK_COM7", sim.Path().c_str(), 1);
    char dir[] = "/tmp/loopset-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string ini = std::string(dir) + "/config.ini";
    WriteComPort(ini, 7);

    int result = 0;
    {
        CHeadlessView view;
        view.onFieldSet = FieldSet;
        CLoopsetDlg dlg(view, ini, kCountedPortlink);
        dlg.Log().SetClock([] {
            alloc_count::SetInLink(false);
            return SystemLocalTime();
        });
        dlg.OnInitDialog();
        if (!view.Warnings().empty()) {
            fprintf(stderr, "%s\n", view.Warnings()[0].c_str());
            return 1;
        }

        const auto adc = [](CLoopsetDlg &d) { d.OnBtnAdcRead(); };
        const auto read = [](CLoopsetDlg &d) { d.OnBtnConfigRead(); };
        const auto write = [](CLoopsetDlg &d) { d.OnBtnConfigWrite(); };
        // Warm up: the first open of the port, the first answers.
        Run(dlg, view, 20, adc);
        Run(dlg, view, 20, read);

        printf("loopsim over a pty, real link and portlink, %d requests of each kind\n", count);
        printf(
            "times in microseconds to the last field set from the button (click) and from\n"
            "Send (send), and from Send to the whole answer gathered in the link (wire);\n"
            "allocations, timer ticks and timer starts per request\n\n");
        printf("%-20s %15s   %23s   %15s   %5s   %11s   %11s   %11s\n", "", "click", "send", "wire",
               "", "allocs Send", "allocs Open", "timer");
        printf("%-20s %7s %7s   %7s %7s %7s   %7s %7s   %5s   %5s %5s   %5s %5s   %5s %5s\n",
               "request", "p50", "p99", "p50", "p99", "max", "p50", "p99", "t/o", "UI", "lsn", "UI",
               "lsn", "ticks", "wakes");
        const Figures a = Run(dlg, view, count, adc);
        Print("CMD_GET_ADC_VALUE", a, count);
        const Figures r = Run(dlg, view, count, read);
        Print("CMD_GET_CONFIG_DATA", r, count);
        const Figures w = Run(dlg, view, count, write);
        Print("CMD_SET_CONFIG_DATA", w, count);
        const Figures b = Run(dlg, view, count, adc, Clicks::kBackToBack);
        Print("ADC, back to back", b, count);
        printf(
            "\nclicks on an idle window (its timer stopped); the last row clicks as soon as\n"
            "the previous answer is shown\n");
        printf("posts dropped by the view: %zu\n", view.DroppedPosts());
        result = a.timeouts + r.timeouts + w.timeouts + b.timeouts ? 1 : 0;
    }
    initcom(nullptr);
    sim.Stop(SIGTERM);
    unlink(ini.c_str());
    rmdir(dir);
    return result;
}
