// The machine's local date and time, for time stamps the operator reads.
#pragma once

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

LocalTime SystemLocalTime();
