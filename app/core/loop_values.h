// What a raw ADC reading means on the loop, derived from the ranges the
// device was last configured with (read from it or written to it): the
// loop current and the value on the display scale. The device's own
// arithmetic is not known; these are the configured ranges applied linearly,
// which is what the ranges say.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "frames.h"

// One channel's part of the configuration block.
struct ChannelRanges {
    uint16_t refMin = 0;   // ADC counts at 4 mA
    uint16_t refMax = 0;   // ADC counts at 20 mA
    uint16_t dispMin = 0;  // display value at 4 mA
    uint16_t dispMax = 0;  // display value at 20 mA
};

inline constexpr int kChannelCount = 2;
// Every text and file shows the loop current with this many decimals, and
// its level is judged on that shown value, so that "3.800 mA" is never
// "out of range".
inline constexpr int kMilliampDecimals = 3;
using LoopRanges = std::array<ChannelRanges, kChannelCount>;

// The eight values in block order (per channel: reference min, max, display
// min, max) as the two channels' ranges.
LoopRanges RangesOf(const ConfigValues &values);

// Where a loop current stands against the usual 4-20 mA signal levels.
enum class LoopLevel {
    Normal,      // 3.8 mA to 20.5 mA
    OutOfRange,  // below 3.8 or above 20.5, but not a failure signal
    Failure,     // below 3.6 or above 21: a broken loop or a sensor fault
};

struct DerivedValue {
    double milliamps = 0;
    double display = 0;
    LoopLevel level = LoopLevel::Normal;
};

LoopLevel LevelOf(double milliamps);
// None when the reference range is empty (refMax == refMin): no current can be
// told from it. adc may be a mean of readings, fractions and all.
std::optional<DerivedValue> Derive(const ChannelRanges &ranges, double adc);
// "ok", "out of range", "failure".
const char *LevelText(LoopLevel level);
