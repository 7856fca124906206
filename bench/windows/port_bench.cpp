// Figures of portlink.dll under Wine against the simulated device on COM<n>:
// the round trip of the port alone, beside that of a plain Win32 client of the
// same port, and the CPU time of the process while an open port is quiet.
// Usage: portlink_wine_bench COM-NUMBER [requests (1000)] [quiet seconds (10)]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frames.h"
#include "peer_client.h"
#include "portlink.h"
#include "recorder.h"

namespace {

double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// The library's round trips: writecom of a request until readcom has gathered
// the whole answer, woken by the listener's messages.
bool PortlinkRoundTrips(int32_t com, int requests, portlink::test::Recorder &recorder,
                        std::vector<double> &us) {
    const ReadFrame &adc = BuildAdcReadFrame();
    uint8_t buffer[10000];
    for (int i = 0; i < requests; ++i) {
        size_t seen = recorder.Count(), got = 0;
        const auto start = std::chrono::steady_clock::now();
        writecom(com, adc.data(), int32_t(adc.size()));
        while (got < kAdcResponseSize) {
            if (!recorder.WaitFor(++seen)) {
                std::fprintf(stderr, "no answer to request %d\n", i);
                return false;
            }
            int32_t count = 0;
            readcom(com, buffer, &count);
            got += size_t(count);
        }
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return true;
}

struct Quantiles {
    double p50, p99, max;
};

Quantiles Of(std::vector<double> us) {
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[std::min(us.size() - 1, size_t(q * us.size()))]; };
    return {at(0.5), at(0.99), us.back()};
}

}  // namespace

int main(int argc, char **argv) {
    const int32_t com = argc > 1 ? std::atoi(argv[1]) : 0;
    const int requests = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int quiet = argc > 3 ? std::atoi(argv[3]) : 10;
    if (com < 1 || requests < 1 || quiet < 0) {
        std::fputs("Usage: portlink_wine_bench COM-NUMBER [requests] [quiet seconds]\n", stderr);
        return 2;
    }
    portlink::test::Recorder recorder;
    initcom(recorder.Handle());
    // The library and the plain client take turns in rounds on the same port,
    // so that both see the same machine load.
    constexpr int kRounds = 10;
    std::vector<double> library, peer, evented, round(size_t(requests / kRounds + 1));
    for (int r = 0; r < kRounds; ++r) {
        const int n = requests / kRounds + (r < requests % kRounds ? 1 : 0);
        for (int eventFirst = 0; eventFirst < 2; ++eventFirst) {
            const int done = peer_round_trips(com, n, eventFirst, round.data());
            if (done != n) {
                std::fprintf(stderr, "the plain client failed on COM%d after %d requests\n", com,
                             done);
                return 1;
            }
            (eventFirst ? evented : peer).insert((eventFirst ? evented : peer).end(),
                                                 round.begin(), round.begin() + n);
        }
        if (opencom(com) != 0 || setcom(com, 3, 115200) != 0) {
            std::fprintf(stderr, "cannot open COM%d\n", com);
            return 1;
        }
        if (!PortlinkRoundTrips(com, n, recorder, library)) return 1;
        closecom(com);
    }
    const Quantiles l = Of(library), p = Of(peer), e = Of(evented);
    std::printf("round trip over %d ADC requests: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                requests, l.p50, l.p99, l.max);
    std::printf("plain Win32 client, same port and rounds: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                p.p50, p.p99, p.max);
    std::printf("plain client waiting for the event first: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                e.p50, e.p99, e.max);
    std::printf("library / plain client: p50 %.2f, p99 %.2f; library / event-driven: p50 %.2f, "
                "p99 %.2f\n",
                l.p50 / p.p50, l.p99 / p.p99, l.p50 / e.p50, l.p99 / e.p99);
    if (opencom(com) != 0 || setcom(com, 3, 115200) != 0) return 1;
    // The last read of a host that reads until nothing is left.
    std::vector<double> empty;
    uint8_t buffer[64];
    for (int i = 0; i < 20; ++i) {
        int32_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        const int32_t code = readcom(com, buffer, &count);
        empty.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
        if (code != 0 || count != 0) std::printf("readcom of an empty queue answered %d\n", code);
    }
    const Quantiles drained = Of(empty);
    std::printf("readcom of an empty queue, 20 calls: p50 %.0f us, max %.0f us\n", drained.p50,
                drained.max);
    const double cpu0 = CpuMs();
    const size_t posts0 = recorder.Count();
    Sleep(DWORD(quiet) * 1000);
    std::printf("CPU time of the process, open quiet port, %d s: %.1f ms (%zu messages)\n", quiet,
                CpuMs() - cpu0, recorder.Count() - posts0);
    closecom(com);
    destroycom();
    return 0;
}
