#include "sim_instrument.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Limits {
    const char *name;
    double low, high;
    bool lowExcluded;
    bool whole;
    int most;  // values given at most (one per channel, or one for both)
    const char *range;
};

const Limits kLimits[] = {
    {"input", 0, 30, false, false, 2, "one or two currents in mA (0-30)"},
    {"gain", 0, 2, true, false, 2, "one or two gains (above 0, at most 2)"},
    {"offset", -4095, 4095, false, false, 2, "one or two offsets in counts (-4095 to 4095)"},
    {"noise", 0, 1000, false, true, 1, "a whole number of counts (0-1000)"},
};

const Limits &LimitsOf(SimSetting setting) {
    return kLimits[static_cast<int>(setting)];
}

bool StartsNumber(char c) {
    return isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
}

// One number at text, no spaces or words (strtod would take "inf" and " 1").
bool ParseValue(const char *&text, const Limits &limits, double &value) {
    if (!StartsNumber(*text)) return false;
    char *end = nullptr;
    errno = 0;
    value = strtod(text, &end);
    if (errno || end == text || !std::isfinite(value)) return false;
    if (value < limits.low || value > limits.high || (limits.lowExcluded && value == limits.low))
        return false;
    if (limits.whole && value != std::trunc(value)) return false;
    text = end;
    return true;
}

// "V" or "V1,V2" and nothing after; the count of values, 0 when bad.
int ParseValues(const char *text, const Limits &limits, double values[2]) {
    int count = 0;
    for (;;) {
        if (count == limits.most || !ParseValue(text, limits, values[count])) return 0;
        ++count;
        if (*text == '\0') return count;
        if (*text++ != ',') return 0;
    }
}

}  // namespace

uint16_t SimInstrument::Counts(int channel, int extra) const {
    const double exact =
        currentMa[channel] / kFullScaleMa * kFullScaleCounts * gain[channel] + offset[channel];
    const long counts = std::lround(exact) + extra;
    return static_cast<uint16_t>(std::clamp(counts, 0L, static_cast<long>(kFullScaleCounts)));
}

const char *SettingRange(SimSetting setting) {
    return LimitsOf(setting).range;
}

bool SetInstrumentValues(SimInstrument &instrument, SimSetting setting, const char *text) {
    double values[2];
    const int count = ParseValues(text, LimitsOf(setting), values);
    if (count == 0) return false;
    if (count == 1) values[1] = values[0];
    switch (setting) {
        case SimSetting::Input:
            std::copy(values, values + 2, instrument.currentMa);
            break;
        case SimSetting::Gain:
            std::copy(values, values + 2, instrument.gain);
            break;
        case SimSetting::Offset:
            std::copy(values, values + 2, instrument.offset);
            break;
        case SimSetting::Noise:
            instrument.noise = static_cast<int>(values[0]);
            break;
    }
    return true;
}

bool ApplyControlLine(SimInstrument &instrument, const char *line, char *error, size_t errorSize) {
    // CH=MA: one channel.
    if ((line[0] == '1' || line[0] == '2') && line[1] == '=') {
        const Limits &input = LimitsOf(SimSetting::Input);
        const char *text = line + 2;
        double value = 0;
        if (!ParseValue(text, input, value) || *text != '\0') {
            snprintf(error, errorSize, "channel %c needs a current in mA (0-30)", line[0]);
            return false;
        }
        instrument.currentMa[line[0] - '1'] = value;
        return true;
    }
    if (isdigit(static_cast<unsigned char>(line[0])) && strchr(line, '=')) {
        snprintf(error, errorSize, "no such channel (1 or 2)");
        return false;
    }
    // A setting's name and its values, or the currents alone.
    SimSetting setting = SimSetting::Input;
    const char *values = line;
    for (const Limits &limits : kLimits) {
        const size_t length = strlen(limits.name);
        if (strncmp(line, limits.name, length) == 0 &&
            (line[length] == '\0' || line[length] == ' ' || line[length] == '\t')) {
            setting = static_cast<SimSetting>(&limits - kLimits);
            values = line + length;
            while (*values == ' ' || *values == '\t') ++values;
            break;
        }
    }
    if (SetInstrumentValues(instrument, setting, values)) return true;
    if (values == line && !StartsNumber(line[0])) {
        snprintf(error, errorSize,
                 "not a control line (MA1,MA2; CH=MA; input, gain, offset or noise VALUES)");
    } else {
        snprintf(error, errorSize, "%s needs %s", LimitsOf(setting).name, SettingRange(setting));
    }
    return false;
}
