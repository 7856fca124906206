// The line-condition totals while several threads ask the driver at once, as
// the caller's reads and the listener's waits do. Wine's driver never reports
// a line condition (ClearCommError's flags are always 0 there), so the test
// plays the driver.
#include "line_tally.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

namespace portlink {

TEST(LineTally, ConcurrentAskersLoseNoCountAndKeepTheConditionsApart) {
    // Asker k reports the first k conditions on every call: each total has a
    // count of its own, so a lost addition or two swapped totals show.
    constexpr DWORD kFlags[] = {CE_BREAK, CE_FRAME, CE_RXPARITY, CE_OVERRUN, CE_RXOVER};
    constexpr uint32_t kCalls = 1000000;
    LineTally tally;
    std::atomic<uint32_t> asked{0};  // the driver, which all askers share
    std::latch start(std::size(kFlags));
    std::vector<std::thread> askers;
    DWORD reported = 0;
    for (const DWORD flag : kFlags) {
        reported |= flag;
        askers.emplace_back([&, reported] {
            start.arrive_and_wait();
            for (uint32_t i = 0; i < kCalls; ++i)
                tally.Take([&](DWORD &errors) { return errors = reported, ++asked != 0; });
        });
    }
    for (std::thread &asker : askers) asker.join();
    const LineCounters totals = tally.Totals();
    EXPECT_EQ(totals.breaks, 5 * kCalls);
    EXPECT_EQ(totals.frame, 4 * kCalls);
    EXPECT_EQ(totals.parity, 3 * kCalls);
    EXPECT_EQ(totals.overrun, 2 * kCalls);
    EXPECT_EQ(totals.bufOverrun, kCalls);
}

}  // namespace portlink
