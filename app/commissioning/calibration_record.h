// A calibration's record and its arithmetic: per test point the current
// applied, the counts the device read, what it displays and what it should
// display, the error in % of the display span and the verdict; the
// reference range that a straight line through the as-found points gives;
// and the record as JSON (for other programs) and as one printable HTML page
// (for the quality system), numbers with a decimal point whatever the locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frames.h"
#include "loop_values.h"

// The currents a calibration may ask for, and the defaults.
inline constexpr double kCalMinMa = 3.6;
inline constexpr double kCalMaxMa = 21.0;
inline constexpr double kCalDefaultTolerancePct = 0.25;
// An applied current further than this from the nominal is a typing mistake.
inline constexpr double kCalMaxDeviationMa = 1.0;

struct CalPoint {
    double nominalMa = 0;
    double appliedMa = 0;
    double adc = 0;              // mean counts over the steady window
    double foundMa = 0;          // the loop current as the device sees it
    double display = 0;          // the display value as the device sees it
    double expectedDisplay = 0;  // what it should show for the applied current
    double errorPctSpan = 0;     // (display - expected) / span * 100, signed
    bool steady = true;          // settled within its time-out
    bool pass = false;
};

struct CalRecord {
    std::string tag, operatorName, reference;  // free texts, as typed
    int channel = 1;                           // 1 or 2
    std::string time;                          // ISO 8601 with the offset
    double tolerancePct = kCalDefaultTolerancePct;
    ConfigValues configBefore{};
    std::optional<ConfigValues> configAfter;
    std::vector<CalPoint> asFound, asLeft;
    // Set once every point of its table is in.
    std::optional<bool> passAsFound, passAsLeft;
    // False when the procedure stopped early (the line lost, a source that
    // failed, the operator's stop): what is here is kept, marked so.
    bool complete = false;
    std::string stopReason;
};

// The channel's ranges in a configuration block (channel 1 or 2).
ChannelRanges ChannelOf(const ConfigValues &config, int channel);

// One point from the counts read: what they mean under the ranges, against
// the applied current; none when the display range is empty (no span) or the
// reference range is (no current can be told).
std::optional<CalPoint> Evaluate(const ChannelRanges &ranges, double nominalMa, double appliedMa,
                                 double adc, double tolerancePct);
// All points pass (none when there are none).
std::optional<bool> Verdict(const std::vector<CalPoint> &points);

// New reference min and max for the channel: the least-squares line of
// counts against applied current through the points, taken at 4 and 20 mA
// and rounded to counts; the display range stays. None with fewer than two
// distinct currents, or a line that leaves 0..65535.
std::optional<ChannelRanges> AdjustedRanges(const std::vector<CalPoint> &points,
                                            const ChannelRanges &ranges);
// The configuration with one channel's ranges replaced, the other's untouched.
ConfigValues WithChannel(ConfigValues config, int channel, const ChannelRanges &ranges);

// A point list such as "4,8,12,16,20": each from 3.6 to 21 mA, none twice,
// in the order they are to be applied. Empty with the reason in error when
// it is not.
std::vector<double> ParsePoints(const std::string &text, std::string &error);

// Indented for a file, or on one line (as loopctl prints every JSON object).
std::string RecordJson(const CalRecord &record, bool oneLine = false);
std::string RecordHtml(const CalRecord &record);
// A file name for the record that stays inside its folder whatever the free
// texts hold: "<tag>_CH<n>_<YYYYMMDD-hhmmss>", the tag reduced to letters,
// digits, '-' and '_' (a Windows device name such as CON gets a '_' before it).
std::string RecordBaseName(const CalRecord &record);
// Where records go unless told otherwise: the user's data folder, records/.
std::string DefaultRecordFolder();
