// The line-condition totals while threads ask the driver at once, as the
// caller's reads and the listener's waits do. Wine's driver never reports a
// line condition (ClearCommError's flags are always 0), so the test plays it.
#include "line_tally.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(LineTally, ConcurrentAskersLoseNoCountAndKeepTheConditionsApart) {
    constexpr uint32_t kCalls = 3000000;
    portlink::LineTally tally;
    std::atomic<uint32_t> asked{0};  // the driver, which every asker calls
    // All start together, at a manual-reset event (std::latch has hung here).
    const HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto ask = [&](DWORD reported) {
        WaitForSingleObject(start, 10000);
        for (uint32_t i = 0; i < kCalls; ++i)
            tally.Take([&](DWORD &errors) { return errors = reported, ++asked != 0; });
    };
    {  // Asker k reports the first k of break 0x10, frame 8, parity 4, overrun 2
       // and buffer overrun 1 each time: every total has a count of its own.
        std::jthread a(ask, 0x10), b(ask, 0x18), c(ask, 0x1C), d(ask, 0x1E), e(ask, 0x1F);
        SetEvent(start);
    }
    CloseHandle(start);
    const portlink::LineCounters t = tally.Totals();
    EXPECT_EQ(std::vector<uint32_t>({t.breaks, t.frame, t.parity, t.overrun, t.bufOverrun}),
              std::vector<uint32_t>({5 * kCalls, 4 * kCalls, 3 * kCalls, 2 * kCalls, kCalls}));
}
