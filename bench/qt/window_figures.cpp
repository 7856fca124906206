// The window's running costs: time from start to the window mapped and
// painted, then, with the port open on the simulated device and quiet, the
// wake-ups of the whole process (every thread's context switches) and its
// CPU, and its resident memory now and at its peak.
//
// With --live-seconds N it then runs the live view at 10 samples a second for
// N seconds and prints the process's CPU and memory over that time, then
// presses the configuration read button once a second, ten times, and prints
// how long each took to be answered.
//
//   window_figures [--idle-seconds N] [--live-seconds N]
//                  (any Qt platform; xvfb-run for X11, QT_QPA_PLATFORM=offscreen without one)
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dialog_units.h"
#include "loopset_window.h"
#include "settings.h"
#include "sim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

std::string StatusField(const char *name) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(name, 0) == 0)
            return line.substr(line.find_first_not_of(" \t", strlen(name)));
    return "?";
}

// Seconds since the kernel started this process (10 ms resolution).
double SecondsSinceExec() {
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) fields >> field;  // field 22: start time in ticks
    const double start = std::stod(field) / static_cast<double>(sysconf(_SC_CLK_TCK));
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return now.tv_sec + now.tv_nsec / 1e9 - start;
}

// One thread's context switches so far: every time it went to sleep
// (voluntary) or was put off the core (nonvoluntary), each ending in a wake-up.
struct ThreadSwitches {
    std::string tid, name;
    unsigned long long switches = 0;
};

std::vector<ThreadSwitches> Switches() {
    std::vector<ThreadSwitches> threads;
    DIR *tasks = opendir("/proc/self/task");
    if (!tasks) return threads;
    while (const dirent *entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        ThreadSwitches t;
        t.tid = entry->d_name;
        std::ifstream status("/proc/self/task/" + t.tid + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("Name:", 0) == 0) t.name = line.substr(line.find_first_not_of(" \t", 5));
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                t.switches += std::stoull(line.substr(line.find(':') + 1));
        }
        threads.push_back(t);
    }
    closedir(tasks);
    return threads;
}

unsigned long long Sum(const std::vector<ThreadSwitches> &threads) {
    unsigned long long sum = 0;
    for (const ThreadSwitches &t : threads) sum += t.switches;
    return sum;
}

// The first exposure of the window (the platform mapped it) and its first paint.
class ShowWatch : public QObject {
public:
    bool mapped = false, painted = false;
    Clock::time_point mappedAt, paintedAt;
    double sinceExec = 0;

protected:
    bool eventFilter(QObject *object, QEvent *e) override {
        if (e->type() == QEvent::Expose && !mapped) {
            auto *window = qobject_cast<QWindow *>(object);
            if (window && window->isExposed()) {
                mapped = true;
                mappedAt = Clock::now();
            }
        }
        if (e->type() == QEvent::Paint && !painted) {
            painted = true;
            paintedAt = Clock::now();
            sinceExec = SecondsSinceExec();
        }
        return false;
    }
};

size_t CountOf(const std::string &text, const char *what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

void LiveFigures(CLoopsetWindow &window, int seconds) {
    window.OpenLiveView();
    CLiveViewWindow *live = window.LiveViewWindow();
    live->RateBox()->setValue(10);
    // Settle, then measure. A loop of its own: the application's quit would
    // close every window, the live view's too.
    QEventLoop settle;
    QTimer::singleShot(2000, &settle, &QEventLoop::quit);
    settle.exec();
    auto runFor = [](std::chrono::milliseconds span) {
        QEventLoop loop;
        QTimer::singleShot(span, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    };
    // The live view alone, then with a button pressed every second.
    const std::string rssBefore = StatusField("VmRSS:");
    const double cpuBefore = CpuSeconds();
    const size_t samplesBefore = live->Model().Size();
    const Clock::time_point start = Clock::now();
    runFor(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuBefore;
    printf("live view, 10 samples a second, %.0f s\n", wall);
    printf("  samples                    %zu (%zu failed)\n", live->Model().Size() - samplesBefore,
           static_cast<size_t>(live->Model().Failures()));
    printf("  CPU                        %.3f %% of one core, whole program\n", 100.0 * cpu / wall);
    printf("  resident memory            %s at the start, %s at the end\n", rssBefore.c_str(),
           StatusField("VmRSS:").c_str());
    std::vector<double> buttonMs;
    const uint64_t failuresBefore = live->Model().Failures();
    for (int press = 0; press < 10; ++press) {
        runFor(std::chrono::milliseconds(1000));
        const size_t answered = CountOf(window.Dialog().Log().Text(), "CMD_GET_CONFIG_DATA");
        const Clock::time_point clicked = Clock::now();
        window.Dialog().OnBtnConfigRead();
        while (CountOf(window.Dialog().Log().Text(), "CMD_GET_CONFIG_DATA") == answered &&
               Clock::now() - clicked < std::chrono::seconds(2))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        buttonMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
    }
    std::sort(buttonMs.begin(), buttonMs.end());
    printf("  button to answer           p50 %.1f ms, max %.1f ms over %zu presses (%zu samples failed)\n",
           buttonMs[buttonMs.size() / 2], buttonMs.back(), buttonMs.size(),
           static_cast<size_t>(live->Model().Failures() - failuresBefore));
    if (getenv("LOOPSET_FIGURES_LOG")) fputs(window.Dialog().Log().Text().c_str(), stderr);
    live->close();
}

}  // namespace

int main(int argc, char *argv[]) {
    const Clock::time_point mainEntered = Clock::now();
    int idleSeconds = 10, liveSeconds = 0;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!strcmp(argv[i], "--idle-seconds")) idleSeconds = atoi(argv[i + 1]);
        if (!strcmp(argv[i], "--live-seconds")) liveSeconds = atoi(argv[i + 1]);
    }

    CSimProcess sim;
    if (!sim.Start(LOOPSIM_PATH, {})) {
        fprintf(stderr, "window_figures: loopsim did not start\n%s", sim.Log().c_str());
        return 1;
    }
    setenv("PORTLINK_COM1", sim.Path().c_str(), 1);
    const Clock::time_point simStarted = Clock::now();

    QApplication app(argc, argv);
    QApplication::setFont(DialogFont());
    QTemporaryDir dir;
    const std::string settings = (dir.path() + "/config.ini").toStdString();
    WriteComPort(settings, 1);

    const Clock::time_point windowStart = Clock::now();
    CLoopsetWindow window(settings);
    bool boxShown = false;
    window.SetBoxHook([&](BoxKind, const QString &, const QString &) { boxShown = true; });
    ShowWatch watch;
    window.installEventFilter(&watch);
    window.winId();  // creates the platform window, to watch its exposure
    window.windowHandle()->installEventFilter(&watch);
    window.InitDialog();
    window.show();
    while (!watch.painted || !watch.mapped)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (boxShown) {
        fprintf(stderr, "window_figures: the port did not open\n");
        return 1;
    }
    auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    const double simMs = ms(simStarted - mainEntered);

    // Let start-up work settle before measuring the idle state.
    QTimer::singleShot(1000, &app, &QCoreApplication::quit);
    app.exec();
    int activeTimers = 0;
    for (const QTimer *timer : window.findChildren<QTimer *>()) activeTimers += timer->isActive();
    const std::vector<ThreadSwitches> switchesBefore = Switches();
    const double cpuBefore = CpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    QTimer::singleShot(idleSeconds * 1000, Qt::PreciseTimer, &app, &QCoreApplication::quit);
    app.exec();
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double idleCpu = CpuSeconds() - cpuBefore;
    const std::vector<ThreadSwitches> switchesAfter = Switches();
    const double wakesPerSecond =
        static_cast<double>(Sum(switchesAfter) - Sum(switchesBefore)) / idleWall;

    printf("platform                     %s\n", qPrintable(QGuiApplication::platformName()));
    printf("window font                  %s\n", qPrintable(QFontInfo(window.font()).family()));
    printf("start to window mapped       %.1f ms from main() (%.1f ms of it starting loopsim)\n",
           ms(watch.mappedAt - mainEntered), simMs);
    printf("start to window painted      %.1f ms from main()\n", ms(watch.paintedAt - mainEntered));
    printf("  window alone               %.1f ms from constructing it to painted\n",
           ms(watch.paintedAt - windowStart));
    printf("  from exec                  %.0f ms to painted (10 ms resolution, loopsim included)\n",
           watch.sinceExec * 1000);
    printf("idle, port open and quiet    %d of the window's timers active as it began\n",
           activeTimers);
    printf("  wake-ups                   %.1f per second, all threads (%.2f s)\n", wakesPerSecond,
           idleWall);
    for (const ThreadSwitches &after : switchesAfter) {
        unsigned long long before = 0;
        for (const ThreadSwitches &t : switchesBefore)
            if (t.tid == after.tid) before = t.switches;
        printf("    %-24s %.1f per second\n", (after.name + " " + after.tid).c_str(),
               static_cast<double>(after.switches - before) / idleWall);
    }
    printf("  CPU                        %.3f %% of one core (%.4f s CPU in %.2f s)\n",
           100.0 * idleCpu / idleWall, idleCpu, idleWall);
    printf("resident memory              %s now, %s peak\n", StatusField("VmRSS:").c_str(),
           StatusField("VmHWM:").c_str());
    if (liveSeconds > 0) LiveFigures(window, liveSeconds);
    window.EndDialog(kDialogCancel);
    return 0;
}
