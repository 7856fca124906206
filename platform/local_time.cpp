#include "local_time.h"

#include <cstdio>
#include <cstdlib>

std::string IsoText(const LocalTime &t) {
    const int offset = std::abs(t.offsetMinutes);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month,
                  t.day, t.hour, t.minute, t.second, t.offsetMinutes < 0 ? '-' : '+', offset / 60,
                  offset % 60);
    return text;
}
