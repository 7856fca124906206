#include <gtest/gtest.h>

#include <string>

#include "event_log.h"

namespace {

LocalTime Fixed() { return {2026, 3, 7, 9, 5, 4}; }

constexpr size_t kStamp = 2 + 19 + 1;  // CR LF, "2026-03-07 09:05:04", tab

}  // namespace

TEST(EventLog, EntryFormatAndFirstEmptyLine) {
    CEventLog log(Fixed);
    EXPECT_EQ(log.Append("Start!"), "\r\n2026-03-07 09:05:04\tStart!");
    log.Append("Send ADC Read");
    EXPECT_EQ(log.Text(), "\r\n2026-03-07 09:05:04\tStart!\r\n2026-03-07 09:05:04\tSend ADC Read");
}

TEST(EventLog, TextIsDataNotFormat) {
    CEventLog log(Fixed);
    log.Append("100% %s %n %d\tdone");
    EXPECT_EQ(log.Text(), "\r\n2026-03-07 09:05:04\t100% %s %n %d\tdone");
    const std::string big(5000, 'x');  // far longer than any fixed line buffer
    log.Append(big);
    EXPECT_EQ(log.Text().substr(log.Text().size() - big.size()), big);
}

TEST(EventLog, TrimBoundaryCutsOnceAppendAfterAppend) {
    CEventLog log(Fixed);
    // Fill so that the text is exactly 65,536 characters after an append.
    const std::string first(100, 'a');
    log.Append(first);
    const size_t remaining = CEventLog::kTrimLimit - log.Text().size() - kStamp;
    log.Append(std::string(remaining, 'b'));
    ASSERT_EQ(log.Text().size(), 65536u);
    EXPECT_EQ(log.Text().substr(0, 2), "\r\n");  // exactly at the limit: not cut

    // The next append passes the limit: only the leading CR LF goes.
    log.Append("c");
    EXPECT_EQ(log.Text().size(), 65536u + kStamp + 1 - 2);
    EXPECT_EQ(log.Text().substr(0, 19), "2026-03-07 09:05:04");
    EXPECT_EQ(log.Text().substr(kStamp - 2, 100), first);

    // The one after removes the oldest whole line.
    log.Append("d");
    EXPECT_EQ(log.Text().substr(0, 19), "2026-03-07 09:05:04");
    EXPECT_EQ(log.Text().substr(kStamp - 2, 3), "bbb");
    EXPECT_EQ(log.Text().find(first), std::string::npos);
    EXPECT_LT(log.Text().size(), 65536u + 2 * kStamp);
}

TEST(EventLog, StaysBoundedOverManyEntries) {
    CEventLog log(Fixed);
    for (int i = 0; i < 20000; ++i) log.Append("CMD_GET_ADC_VALUE");
    EXPECT_LE(log.Text().size(), CEventLog::kTrimLimit + kStamp + 17);
    EXPECT_GT(log.Text().size(), CEventLog::kTrimLimit - kStamp - 17);
}
