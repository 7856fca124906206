// The machine's local date and time, for time stamps the operator reads.
#pragma once

#include <string>

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    // Ahead of UTC, in minutes (east positive).
    int offsetMinutes = 0;
};

LocalTime SystemLocalTime();
// "2026-12-07T17:05:26+01:00": the time with its offset, as records keep it.
std::string IsoText(const LocalTime &time);
