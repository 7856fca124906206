#include "local_time.h"

#include <ctime>

LocalTime SystemLocalTime() {
    const time_t now = time(nullptr);
    struct tm t {};
    localtime_s(&t, &now);
    // The local fields read as UTC give the offset, daylight saving included.
    struct tm asUtc = t;
    const auto offset = static_cast<long long>(_mkgmtime(&asUtc)) - static_cast<long long>(now);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
            t.tm_min,         t.tm_sec,     static_cast<int>(offset / 60)};
}
