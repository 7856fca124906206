// Figures of portlink.dll under Wine against the simulated device on COM<n>:
// the round trip of the port alone (writecom of a request until readcom has
// gathered the whole answer, woken by the listener's messages) and the CPU
// time of the process while an open port is quiet.
// Usage: portlink_wine_bench COM-NUMBER [requests (1000)] [quiet seconds (10)]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frames.h"
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
    if (opencom(com) != 0 || setcom(com, 3, 115200) != 0) {
        std::fprintf(stderr, "cannot open COM%d\n", com);
        return 1;
    }
    const ReadFrame &adc = BuildAdcReadFrame();
    std::vector<double> us;
    uint8_t buffer[10000];
    for (int i = 0; i < requests; ++i) {
        size_t seen = recorder.Count(), got = 0;
        const auto start = std::chrono::steady_clock::now();
        writecom(com, adc.data(), int32_t(adc.size()));
        while (got < kAdcResponseSize) {
            if (!recorder.WaitFor(++seen)) {
                std::fprintf(stderr, "no answer to request %d\n", i);
                return 1;
            }
            int32_t count = 0;
            readcom(com, buffer, &count);
            got += size_t(count);
        }
        us.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[std::min(us.size() - 1, size_t(q * us.size()))]; };
    std::printf("round trip over %d ADC requests: p50 %.0f us, p99 %.0f us, max %.0f us\n",
                requests, at(0.5), at(0.99), us.back());
    const double cpu0 = CpuMs();
    const size_t posts0 = recorder.Count();
    Sleep(DWORD(quiet) * 1000);
    std::printf("CPU time of the process, open quiet port, %d s: %.1f ms (%zu messages)\n", quiet,
                CpuMs() - cpu0, recorder.Count() - posts0);
    closecom(com);
    destroycom();
    return 0;
}
