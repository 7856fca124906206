#include "loop_values.h"

#include <cmath>

LoopRanges RangesOf(const ConfigValues &values) {
    LoopRanges ranges;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const uint16_t *v = &values[static_cast<size_t>(ch) * 4];
        ranges[static_cast<size_t>(ch)] = {v[0], v[1], v[2], v[3]};
    }
    return ranges;
}

LoopLevel LevelOf(double milliamps) {
    if (milliamps < 3.6 || milliamps > 21.0) return LoopLevel::Failure;
    if (milliamps < 3.8 || milliamps > 20.5) return LoopLevel::OutOfRange;
    return LoopLevel::Normal;
}

std::optional<DerivedValue> Derive(const ChannelRanges &ranges, double adc) {
    if (ranges.refMax == ranges.refMin) return std::nullopt;
    // Signed: a reading below refMin, or a range configured downwards, is
    // arithmetic like any other.
    const double fraction = (adc - ranges.refMin) / (double(ranges.refMax) - ranges.refMin);
    DerivedValue v;
    v.milliamps = 4.0 + 16.0 * fraction;
    v.display = ranges.dispMin + (double(ranges.dispMax) - ranges.dispMin) * fraction;
    const double shown = std::pow(10.0, kMilliampDecimals);
    v.level = LevelOf(std::round(v.milliamps * shown) / shown);
    return v;
}

const char *LevelText(LoopLevel level) {
    switch (level) {
        case LoopLevel::Normal: return "ok";
        case LoopLevel::OutOfRange: return "out of range";
        case LoopLevel::Failure: return "failure";
    }
    return "";
}
