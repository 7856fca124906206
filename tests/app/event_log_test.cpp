#include "event_log.h"

#include <gtest/gtest.h>

#include <string>

const auto Fixed = [] { return LocalTime{2026, 3, 7, 9, 5, 4}; };
const std::string kStamp = "\r\n2026-03-07 09:05:04\t";

TEST(EventLog, EntriesAreDataAndTheTextIsCutOnceAppendAfterAppend) {
    CEventLog log(Fixed);
    const std::string first = "100% %s %n %d\tdone";  // data, never a format
    EXPECT_EQ(log.Append(first), kStamp + first);     // the first entry starts with an empty line
    log.Append(std::string(CEventLog::kTrimLimit - log.Text().size() - kStamp.size(), 'b'));
    ASSERT_EQ(log.Text().size(), 65536u);
    EXPECT_EQ(log.Text().substr(0, kStamp.size() + first.size()), kStamp + first);  // not cut

    log.Append("c");  // past the limit: only the leading CR LF goes
    EXPECT_EQ(log.Text().substr(0, kStamp.size() - 2 + first.size()), kStamp.substr(2) + first);
    EXPECT_EQ(log.Text().size(), 65536u + kStamp.size() + 1 - 2);

    log.Append("d");  // the one after removes the oldest whole line
    EXPECT_EQ(log.Text().substr(0, kStamp.size() + 1), kStamp.substr(2) + "bbb");
}
