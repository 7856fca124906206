// The window's running costs: time from start to the window on screen, CPU
// while it idles with its 2 ms timer running, and resident memory. The port
// is open on the simulated device, as in use.
//
//   window_figures [--idle-seconds N]        (any Qt platform; xvfb-run for X11)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

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

class PaintWatch : public QObject {
public:
    bool painted = false;
    Clock::time_point at;
    double sinceExec = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Paint && !painted) {
            painted = true;
            at = Clock::now();
            sinceExec = SecondsSinceExec();
        }
        return false;
    }
};

}  // namespace

int main(int argc, char *argv[]) {
    const Clock::time_point mainEntered = Clock::now();
    int idleSeconds = 10;
    for (int i = 1; i + 1 < argc; ++i)
        if (!strcmp(argv[i], "--idle-seconds")) idleSeconds = atoi(argv[i + 1]);

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
    PaintWatch watch;
    window.installEventFilter(&watch);
    window.InitDialog();
    window.show();
    while (!watch.painted) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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
    const double cpuBefore = CpuSeconds();
    const Clock::time_point idleStart = Clock::now();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    app.exec();
    const double idleWall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double idleCpu = CpuSeconds() - cpuBefore;

    printf("platform                     %s\n", qPrintable(QGuiApplication::platformName()));
    printf("window font                  %s\n", qPrintable(QFontInfo(window.font()).family()));
    printf("start to window painted      %.1f ms from main() (%.1f ms of it starting loopsim)\n",
           ms(watch.at - mainEntered), simMs);
    printf("  window alone               %.1f ms from constructing the window\n",
           ms(watch.at - windowStart));
    printf("  from exec                  %.0f ms (10 ms resolution, loopsim included)\n",
           watch.sinceExec * 1000);
    printf("idle CPU, 2 ms timer running %.2f %% of one core (%.3f s CPU in %.2f s)\n",
           100.0 * idleCpu / idleWall, idleCpu, idleWall);
    printf("resident memory              %s now, %s peak\n", StatusField("VmRSS:").c_str(),
           StatusField("VmHWM:").c_str());
    window.EndDialog(kDialogCancel);
    return 0;
}
