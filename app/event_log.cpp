#include "event_log.h"

#include <cstdio>

CEventLog::CEventLog(LogClock clock) : m_clock(std::move(clock)) {}

const std::string &CEventLog::Append(std::string_view text) {
    const LocalTime now = m_clock ? m_clock() : SystemLocalTime();
    // Only the time stamp goes through a format; the text is appended as it
    // is, so a "%" in it is never read as a conversion and no length overruns.
    char stamp[80];
    const int n = snprintf(stamp, sizeof stamp, "\r\n%02d-%02d-%02d %02d:%02d:%02d\t", now.year,
                           now.month, now.day, now.hour, now.minute, now.second);
    m_text.append(stamp, n > 0 ? static_cast<size_t>(n) : 0);
    m_text.append(text);

    // One cut per append keeps the text just above the limit: the first cut
    // takes only the leading CR LF, each later one the oldest line.
    if (m_text.size() > kTrimLimit) {
        const size_t p = m_text.find("\r\n");
        if (p != std::string::npos) m_text.erase(0, p + 2);
    }
    return m_text;
}
