// The converter of an instrument at the device's inputs: the current applied
// to each channel, read by a 12-bit converter with 20 mA at full scale and a
// gain and an offset error of its own. A calibration has something known to
// find: the counts follow the applied current, not the stored ranges, which
// only map counts to display.
#pragma once

#include <cstddef>
#include <cstdint>

struct SimInstrument {
    static constexpr double kFullScaleMa = 20.0;
    static constexpr int kFullScaleCounts = 4095;

    bool on = false;  // off: the device answers its drifting values
    double currentMa[2] = {4.0, 4.0};
    double gain[2] = {1.0, 1.0};
    double offset[2] = {0.0, 0.0};  // counts
    int noise = 0;                  // each read is off by up to this many counts either way

    // What the converter reads on channel (0 or 1), with extra counts of noise.
    uint16_t Counts(int channel, int extra) const;
    bool operator==(const SimInstrument &) const = default;
};

enum class SimSetting { Input, Gain, Offset, Noise };

// What a setting takes, for messages: "one or two currents in mA (0-30)".
const char *SettingRange(SimSetting setting);

// Sets one setting from text: "V" (both channels) or "V1,V2"; noise takes one
// whole number. False, with nothing changed, when text is not that or a value
// is out of range.
bool SetInstrumentValues(SimInstrument &instrument, SimSetting setting, const char *text);

// Applies one line of the control channel, without its newline:
//   MA1,MA2 or MA    the applied currents (one value: both channels)
//   CH=MA            one channel's current (CH 1 or 2)
//   input|gain|offset|noise VALUES   as the options of the same name
// False, with nothing changed and the reason in error, for anything else.
bool ApplyControlLine(SimInstrument &instrument, const char *line, char *error, size_t errorSize);
