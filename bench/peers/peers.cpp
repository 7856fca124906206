// The same request (the ADC read: 8 bytes out, 16 back) against the same
// loopsim over one pty, through each way of talking to it:
//   termios   open, raw mode, write, poll and read until 16 bytes
//   portlink  the C API: opencom, setcom, ondata, writecom, the listener's
//             post() waking this thread through a condition variable, readcom
//   link      CDeviceLink as the dialog holds it: Send, the posted arrival
//             taken from the headless view's queue, ReadSerial, Tick
//   dialog    the button through the dialog and its timer (Pump), from an idle
//             window to the last field set; each click reopens the port, as
//             the dialog's handlers do
//   pyserial  a python child doing its round trips (when python3 has serial)
// Each peer gets its share of every round, the order rotating from round to
// round so that none always runs first or last after another.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "frames.h"
#include "headless_view.h"
#include "loopset_dlg.h"
#include "portlink.h"
#include "settings.h"
#include "sim_process.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTimeoutMs = 2000;
constexpr int kWarmUp = 10;  // requests per peer and round left out of the figures
constexpr int32_t kAnswerSize = static_cast<int32_t>(kAdcResponseSize);
// Each peer opens the pty under its own port number.
constexpr int kDialogPort = 7, kLinkPort = 8, kApiPort = 9;

const char kUsage[] =
    "Usage: peers [--count N] [--rounds R] [--python PROGRAM]\n"
    "\n"
    "Sends the ADC read to one loopsim over one pseudo-terminal through a plain\n"
    "termios client, portlink's C API, the link, the dialog and pyserial (when\n"
    "python3 can import serial), and prints each one's p50 and p99 round trip and\n"
    "its ratio to the termios client's.\n"
    "\n"
    "  --count N        requests per peer (default 3000)\n"
    "  --rounds R       rounds the requests are spread over, the order of the peers\n"
    "                   rotating between rounds (default 30)\n"
    "  --python PROGRAM the python that runs the pyserial peer (default python3)\n"
    "  -h, --help       this text\n";

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

struct Samples {
    std::vector<double> us;
    int timeouts = 0;
    int errors = 0;  // answers that were not the 16-byte ADC answer
    // Records request number i of a turn; the warm-up ones are dropped.
    void Add(int i, Clock::time_point start, bool ok) {
        if (i < kWarmUp) return;
        if (ok)
            us.push_back(Micros(Clock::now() - start));
        else
            ++timeouts;
    }
};

// What every peer talks to: the pty's path, and the dialog's settings file.
struct Target {
    std::string path, settings;
};

bool IsAdcAnswer(const uint8_t *b) {
    return b[0] == STX && ReadBe16(b, kOffsetLength) == kAnswerSize &&
           b[kOffsetCommand] == CMD_GET_ADC_VALUE && b[kAnswerSize - 1] == ETX;
}

int MillisLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// A plain client: what any program does without a library.
bool RunTermios(const Target &target, int count, Samples &s) {
    const std::string &path = target.path;
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B115200);
    tcsetattr(fd, TCSANOW, &t);
    tcflush(fd, TCIOFLUSH);
    const ReadFrame &frame = BuildAdcReadFrame();
    uint8_t answer[kAnswerSize];
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(kTimeoutMs);
        bool ok = write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
        int32_t got = 0;
        while (ok && got < kAnswerSize) {
            pollfd p{fd, POLLIN, 0};
            const ssize_t n = poll(&p, 1, MillisLeft(deadline)) == 1
                                  ? read(fd, answer + got, static_cast<size_t>(kAnswerSize - got))
                                  : -1;
            ok = n > 0;
            if (ok) got += static_cast<int32_t>(n);
        }
        s.Add(i, start, ok);
        if (!ok) tcflush(fd, TCIFLUSH);
        if (ok && !IsAdcAnswer(answer)) ++s.errors;
    }
    close(fd);
    return true;
}

// The listener's post(): counts and wakes the waiting thread, never waits long.
struct PostSignal {
    std::mutex lock;
    std::condition_variable posted;
    uint64_t posts = 0;

    static void Post(void *context, uint32_t, uint32_t, int32_t) {
        auto *self = static_cast<PostSignal *>(context);
        {
            std::lock_guard<std::mutex> hold(self->lock);
            ++self->posts;
        }
        self->posted.notify_one();
    }
    // Waits until a post after the seen-th one; false at the deadline.
    bool WaitAfter(uint64_t &seen, Clock::time_point deadline) {
        std::unique_lock<std::mutex> hold(lock);
        if (!posted.wait_until(hold, deadline, [&] { return posts != seen; })) return false;
        seen = posts;
        return true;
    }
    uint64_t Seen() {
        std::lock_guard<std::mutex> hold(lock);
        return posts;
    }
};

bool RunPortlink(const Target &target, int count, Samples &s) {
    const std::string &path = target.path;
    setenv(("PORTLINK_COM" + std::to_string(kApiPort)).c_str(), path.c_str(), 1);
    PostSignal signal;
    PortlinkWindow window{&PostSignal::Post, &signal};
    initcom(&window);
    if (opencom(kApiPort) != 0 || setcom(kApiPort, 3, 115200) != 0 || ondata(kApiPort, 1) != 0) {
        closecom(kApiPort);
        initcom(nullptr);
        return false;
    }
    const ReadFrame &frame = BuildAdcReadFrame();
    uint8_t answer[kAnswerSize];
    for (int i = 0; i < count; ++i) {
        uint64_t seen = signal.Seen();
        const auto start = Clock::now();
        const auto deadline = start + std::chrono::milliseconds(kTimeoutMs);
        bool ok = writecom(kApiPort, frame.data(), static_cast<int32_t>(frame.size())) == 0;
        int32_t got = 0;
        while (ok && got < kAnswerSize) {
            ok = signal.WaitAfter(seen, deadline);
            int32_t n = kAnswerSize - got;
            if (ok) ok = readcom(kApiPort, answer + got, &n) == 0;
            if (ok) got += n;
        }
        s.Add(i, start, ok);
        if (!ok) clearbfr(kApiPort, 0);
        if (ok && !IsAdcAnswer(answer)) ++s.errors;
    }
    closecom(kApiPort);
    // The window is about to go.
    initcom(nullptr);
    return true;
}

bool RunLink(const Target &target, int count, Samples &s) {
    const std::string &path = target.path;
    setenv(("PORTLINK_COM" + std::to_string(kLinkPort)).c_str(), path.c_str(), 1);
    CHeadlessView view;
    bool opened = false;
    {
        CDeviceLink link(RealPortlink(), &view);
        link.UsePort(kLinkPort, 115200);
        link.Open(LINK_SERIAL, view.PortWindow());
        opened = view.Warnings().empty();
        const ReadFrame &frame = BuildAdcReadFrame();
        for (int i = 0; opened && i < count; ++i) {
            const auto start = Clock::now();
            const auto deadline = start + std::chrono::milliseconds(kTimeoutMs);
            link.Send(frame.data(), static_cast<int32_t>(frame.size()));
            link.ResetRxCount();
            bool ok = true;
            while (ok && !link.FrameReady()) {
                WindowMessage msg;
                ok = view.TakeMessage(msg, deadline);
                if (!ok || msg.message != PORTLINK_WM_PORT_NOTIFY || msg.lParam != kLinkPort)
                    continue;
                // As the dialog does: the read, then at once its timer's first tick.
                link.ReadSerial();
                link.Tick();
            }
            s.Add(i, start, ok);
            const std::span<const uint8_t> answer = link.TakeFrame();
            if (ok && !IsAdcAnswer(answer.data())) ++s.errors;
        }
    }
    initcom(nullptr);
    return opened;
}

struct Shown {
    bool shown = false;
    Clock::time_point at;
    static void OnFieldSet(void *context, int id) {
        auto *self = static_cast<Shown *>(context);
        // Every answer sets the extra value last.
        if (id != IDC_EXTRA_VALUE || self->shown) return;
        self->shown = true;
        self->at = Clock::now();
    }
};

bool RunDialog(const Target &target, int count, Samples &s) {
    const std::string &path = target.path;
    setenv(("PORTLINK_COM" + std::to_string(kDialogPort)).c_str(), path.c_str(), 1);
    CHeadlessView view;
    Shown shown;
    view.onFieldSet = &Shown::OnFieldSet;
    view.onFieldSetContext = &shown;
    bool opened = false;
    {
        CLoopsetDlg dlg(view, target.settings);
        dlg.OnInitDialog();
        opened = view.Warnings().empty();
        for (int i = 0; opened && i < count; ++i) {
            // A person clicks on an idle window: its timer has stopped.
            Pump(
                dlg, view, [&] { return !view.TimerRunning(0); }, kTimeoutMs);
            shown.shown = false;
            const auto start = Clock::now();
            dlg.OnBtnAdcRead();
            const bool ok = Pump(
                dlg, view, [&] { return shown.shown; }, kTimeoutMs);
            if (i >= kWarmUp) {
                if (ok)
                    s.us.push_back(Micros(shown.at - start));
                else
                    ++s.timeouts;
            }
            if (dlg.Session().Link().m_nFrameLength != kAnswerSize) ++s.errors;
        }
        opened = opened && view.Warnings().empty();
    }
    initcom(nullptr);
    return opened;
}

// Runs argv with its standard output into out (and its standard error to
// ours); the exit status, or -1 when it could not start.
int RunChild(const std::vector<std::string> &args, std::string *out) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!out) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned == 0 && out) {
        char buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            out->append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string g_python = "python3";

bool PyserialAvailable() {
    return RunChild({g_python, "-c", "import serial"}, nullptr) == 0;
}

bool RunPyserial(const Target &target, int count, Samples &s) {
    const std::string &path = target.path;
    std::string hex;
    char byte[3];
    for (uint8_t b : BuildAdcReadFrame()) hex += (snprintf(byte, sizeof byte, "%02x", b), byte);
    std::string out;
    if (RunChild({g_python, PYSERIAL_PEER, path, std::to_string(count), hex}, &out) != 0)
        return false;
    int i = 0;
    for (size_t at = 0; at < out.size(); ++i) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(at, end - at);
        at = end + 1;
        if (i < kWarmUp) continue;
        if (line == "timeout")
            ++s.timeouts;
        else
            s.us.push_back(strtod(line.c_str(), nullptr));
    }
    return i == count;
}

struct Peer {
    const char *name;
    bool (*run)(const Target &, int, Samples &);
    bool available = true;
    Samples samples{};
    bool failed = false;
};

}  // namespace

int main(int argc, char **argv) {
    int count = 3000, rounds = 30;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (!strcmp(argv[i], "-h") || !strcmp(argv[i], "--help")) {
            fputs(kUsage, stdout);
            return 0;
        } else if (!strcmp(argv[i], "--count") && hasValue) {
            count = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--rounds") && hasValue) {
            rounds = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--python") && hasValue) {
            g_python = argv[++i];
        } else {
            fprintf(stderr, "peers: unknown option or missing value: %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    if (count < 1 || rounds < 1) {
        fprintf(stderr, "peers: --count and --rounds need a positive number\n");
        return 2;
    }
    rounds = std::min(rounds, count);

    CSimProcess sim;
    if (!sim.Start(LOOPSIM_PATH, {})) {
        fprintf(stderr, "peers: loopsim did not start: %s\n", sim.Log().c_str());
        return 1;
    }
    char dir[] = "/tmp/loopset-peers-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    const std::string settings = std::string(dir) + "/config.ini";
    WriteComPort(settings, kDialogPort);

    const bool python = PyserialAvailable();
    std::vector<Peer> peers = {{"termios", RunTermios},
                               {"portlink C API", RunPortlink},
                               {"link", RunLink},
                               {"dialog", RunDialog},
                               {"pyserial", RunPyserial, python}};
    const Target target{sim.Path(), settings};
    for (int round = 0; round < rounds; ++round) {
        // This round's share, the remainder in the first rounds.
        const int share = count / rounds + (round < count % rounds ? 1 : 0) + kWarmUp;
        for (size_t k = 0; k < peers.size(); ++k) {
            Peer &peer = peers[(k + static_cast<size_t>(round)) % peers.size()];
            if (!peer.available || peer.failed) continue;
            if (!peer.run(target, share, peer.samples)) {
                fprintf(stderr, "peers: %s could not run against %s\n", peer.name,
                        target.path.c_str());
                peer.failed = true;
            }
        }
    }

    printf("loopsim over one pty (%s), the ADC read (8 bytes out, 16 back),\n",
           target.path.c_str());
    printf("%d requests per peer over %d rounds, the order rotating; microseconds from the\n",
           count, rounds);
    printf("write (the click for the dialog) to the whole answer (its fields set)\n\n");
    printf("%-16s %8s %8s %8s %6s %6s   %8s %8s\n", "peer", "p50", "p99", "max", "t/o", "wrong",
           "p50/tios", "p99/tios");
    const double base50 = Percentile(peers[0].samples.us, 0.5);
    const double base99 = Percentile(peers[0].samples.us, 0.99);
    int result = 0;
    for (const Peer &peer : peers) {
        if (!peer.available) {
            printf("%-16s skipped: %s cannot import serial\n", peer.name, g_python.c_str());
            continue;
        }
        if (peer.failed) {
            printf("%-16s failed to run\n", peer.name);
            result = 1;
            continue;
        }
        const std::vector<double> &us = peer.samples.us;
        const double p50 = Percentile(us, 0.5), p99 = Percentile(us, 0.99);
        printf("%-16s %8.0f %8.0f %8.0f %6d %6d   %8.2f %8.2f\n", peer.name, p50, p99,
               us.empty() ? 0 : *std::max_element(us.begin(), us.end()), peer.samples.timeouts,
               peer.samples.errors, base50 > 0 ? p50 / base50 : 0, base99 > 0 ? p99 / base99 : 0);
        if (peer.samples.timeouts || peer.samples.errors) result = 1;
    }
    sim.Stop(SIGTERM);
    unlink(settings.c_str());
    rmdir(dir);
    return result;
}
