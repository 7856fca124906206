#include "event_log.h"

#include <cstdio>

namespace {

// Only the time stamp goes through a format; the text is appended as it is,
// so a "%" in it is never read as a conversion and no length overruns.
void AppendEntry(std::string &out, const LocalTime &now, std::string_view text) {
    char stamp[80];
    const int n = snprintf(stamp, sizeof stamp, "%02d-%02d-%02d %02d:%02d:%02d\t", now.year,
                           now.month, now.day, now.hour, now.minute, now.second);
    out.append(stamp, n > 0 ? static_cast<size_t>(n) : 0);
    out.append(text);
}

}  // namespace

std::string LogEntry(const LocalTime &time, std::string_view text) {
    std::string entry;
    AppendEntry(entry, time, text);
    return entry;
}

CEventLog::CEventLog(LogClock clock) : m_clock(std::move(clock)) {}

const std::string &CEventLog::Append(std::string_view text) {
    m_text.append("\r\n");
    AppendEntry(m_text, m_clock ? m_clock() : SystemLocalTime(), text);

    // One cut per append keeps the text just above the limit: the first cut
    // takes only the leading CR LF, each later one the oldest line.
    if (m_text.size() > kTrimLimit) {
        const size_t p = m_text.find("\r\n");
        if (p != std::string::npos) m_text.erase(0, p + 2);
    }
    return m_text;
}
