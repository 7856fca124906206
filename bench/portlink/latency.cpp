// Measures, through the shared library over a real pseudo-terminal:
//  - the notification latency, from a one-byte write on the master to the
//    library calling post(), over many writes (p50, p99, max);
//  - the CPU time of the process while an open port is quiet, and after its
//    device has hung up (both should be zero: the listener sleeps).
// Usage: portlink_latency [writes (10000)] [quiet seconds (10)]
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "portlink.h"

namespace {

uint64_t NowNs(clockid_t clock = CLOCK_MONOTONIC) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

struct Host {
    std::atomic<uint64_t> postedAt{0};
    std::atomic<uint64_t> posts{0};
    int signal = -1;  // eventfd: wakes the measuring thread without blocking post
};

void Post(void *context, uint32_t, uint32_t, int32_t) {
    auto *host = static_cast<Host *>(context);
    host->postedAt.store(NowNs());
    host->posts.fetch_add(1);
    const uint64_t one = 1;
    (void)!write(host->signal, &one, sizeof one);
}

const char kUsage[] =
    "Usage: portlink_latency [writes] [quiet seconds]\n"
    "  writes         one-byte writes to time, 1 or more (default 10000)\n"
    "  quiet seconds  how long to measure the CPU time of a quiet and of a\n"
    "                 hung-up port, 0 or more (default 10)\n";

// A whole decimal number from min up to max, or false.
bool ParseCount(const char *text, long min, long max, long &value) {
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && errno == 0 && value >= min && value <= max;
}

double CpuMsOver(unsigned seconds) {
    const uint64_t cpu0 = NowNs(CLOCK_PROCESS_CPUTIME_ID);
    sleep(seconds);
    return static_cast<double>(NowNs(CLOCK_PROCESS_CPUTIME_ID) - cpu0) / 1e6;
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    long writesArg = 10000, quietArg = 10;
    // The percentiles need at least one sample.
    if (argc > 3 || (argc > 1 && !ParseCount(argv[1], 1, 100000000, writesArg)) ||
        (argc > 2 && !ParseCount(argv[2], 0, 86400, quietArg))) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const int writes = static_cast<int>(writesArg);
    const unsigned quietSeconds = static_cast<unsigned>(quietArg);
    int master = -1, slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    setenv("PORTLINK_COM1", name, 1);
    Host host;
    host.signal = eventfd(0, EFD_CLOEXEC);
    PortlinkWindow window{Post, &host};
    initcom(&window);
    if (opencom(1) != 0 || setcom(1, 3, 115200) != 0 || setmdm(1, 0) != 1 || flowcom(1, 0) != 1 ||
        ondata(1, 1) != 0) {
        std::fprintf(stderr, "cannot open %s through portlink\n", name);
        return 1;
    }

    std::vector<double> latencyUs;
    latencyUs.reserve(static_cast<size_t>(writes));
    uint8_t buffer[10000];
    for (int i = 0; i < writes; ++i) {
        const uint8_t byte = static_cast<uint8_t>(i);
        const uint64_t before = host.posts.load();
        const uint64_t t0 = NowNs();
        if (write(master, &byte, 1) != 1) return 1;
        uint64_t count = 0;
        while (host.posts.load() == before) {
            if (read(host.signal, &count, sizeof count) < 0) return 1;
        }
        latencyUs.push_back(static_cast<double>(host.postedAt.load() - t0) / 1e3);
        // Take the byte, as a host does on each message; this re-arms the
        // notification.
        int32_t n = 0;
        readcom(1, buffer, &n);
        // Drain a signal that raced with the loop condition.
        pollfd p{host.signal, POLLIN, 0};
        if (poll(&p, 1, 0) > 0) (void)!read(host.signal, &count, sizeof count);
    }
    std::sort(latencyUs.begin(), latencyUs.end());
    auto at = [&](double q) {
        return latencyUs[std::min(latencyUs.size() - 1, static_cast<size_t>(q * latencyUs.size()))];
    };
    std::printf(
        "notification latency over %d one-byte writes: p50 %.1f us, p99 %.1f us, max %.1f us\n",
        writes, at(0.50), at(0.99), latencyUs.back());

    const uint64_t postsBefore = host.posts.load();
    std::printf("CPU time of the process, open quiet port, %u s: %.3f ms\n", quietSeconds,
                CpuMsOver(quietSeconds));
    close(master);
    close(slave);
    usleep(100000);
    std::printf("CPU time of the process after a hang-up, %u s: %.3f ms\n", quietSeconds,
                CpuMsOver(quietSeconds));
    int32_t n = 0;
    std::printf("after the hang-up: posts %llu, readcom %d, closecom %d\n",
                static_cast<unsigned long long>(host.posts.load() - postsBefore),
                readcom(1, buffer, &n), closecom(1));
    destroycom();
    return 0;
}
