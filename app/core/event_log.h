// The event log's text: time-stamped entries, bounded just above 64 KiB.
// Pure text; the dialog hands the result to its log field.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "local_time.h"

using LogClock = std::function<LocalTime()>;

// One entry without its leading CR LF: "YYYY-MM-DD hh:mm:ss\t<text>".
std::string LogEntry(const LocalTime &time, std::string_view text);

class CEventLog {
public:
    static constexpr size_t kTrimLimit = 65536;

    explicit CEventLog(LogClock clock = SystemLocalTime);

    // Appends "\r\nYYYY-MM-DD hh:mm:ss\t<text>" and applies the single-cut trim:
    // when the text is longer than 64 KiB, everything up to and including its
    // first CR LF goes. The text is data, never a format.
    const std::string &Append(std::string_view text);

    const std::string &Text() const { return m_text; }
    void SetClock(LogClock clock) { m_clock = std::move(clock); }

private:
    LogClock m_clock;
    std::string m_text;
};
