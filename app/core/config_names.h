// The names of the eight configuration values, in the order of the device's
// block: per channel the ADC reference range, then the display range. A
// configuration file and loopctl's JSON call them "ch1" then "ref_min", and a
// message names one "ch1.ref_min".
#pragma once

#include <string>

#include "frames.h"

struct ConfigName {
    const char *channel;  // "ch1", "ch2"
    const char *name;     // "ref_min", "ref_max", "disp_min", "disp_max"
};

inline constexpr ConfigName kConfigNames[kConfigValueCount] = {
    {"ch1", "ref_min"}, {"ch1", "ref_max"}, {"ch1", "disp_min"}, {"ch1", "disp_max"},
    {"ch2", "ref_min"}, {"ch2", "ref_max"}, {"ch2", "disp_min"}, {"ch2", "disp_max"},
};

// "ch1.ref_min".
inline std::string ConfigValueName(size_t index) {
    return std::string(kConfigNames[index].channel) + "." + kConfigNames[index].name;
}
