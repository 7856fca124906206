// The live view's state, free of any window: when the next ADC read is due,
// the readings of the last five minutes, statistics since the start, the
// mean of the last seconds for a two-point capture, and the samples as CSV.
// Both windows draw it; the polling goes through the device session, one
// request at a time, so the dialog's buttons keep working between samples.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "loop_values.h"
#include "sample_stats.h"

struct LiveSample {
    double seconds = 0;  // since the view started
    std::array<uint16_t, kChannelCount> adc{};
};

// A capture's mean, or how much of the window it needs was there.
struct CaptureResult {
    std::optional<double> mean;
    double steadySeconds = 0;  // steady sampling behind now, at most the window
};

class CLiveViewModel {
public:
    static constexpr int kMinRate = 1;  // samples a second
    static constexpr int kMaxRate = 20;
    // What the trend shows and the CSV holds: the last five minutes, at any rate.
    static constexpr double kHoldSeconds = 5 * 60;
    static constexpr size_t kCapacity = static_cast<size_t>(kHoldSeconds) * kMaxRate;
    static constexpr double kCaptureSeconds = 2.0;
    // A step larger than this between two readings of a channel is a change
    // of the applied value (1 % of a 12-bit converter's span): a capture then
    // waits for two steady seconds after it.
    static constexpr int kStepCounts = 41;

    CLiveViewModel();

    // Forgets everything held: a new start.
    void Reset();
    // 1 to 20 samples a second; other values are brought into that range.
    void SetRate(int perSecond);
    int Rate() const { return m_rate; }
    // Pausing stops the requests; resuming at `now` starts a capture window
    // afresh, since the value may have changed meanwhile.
    void SetPaused(bool paused, double now);
    bool Paused() const { return m_paused; }
    // The ranges the derived values come from (none: raw values only).
    void SetRanges(const std::optional<LoopRanges> &ranges) { m_ranges = ranges; }
    const std::optional<LoopRanges> &Ranges() const { return m_ranges; }

    // The polling: whether a request should go out now, and what became of it.
    bool Due(double now) const;
    void OnSent(double now);
    void OnAnswer(double now, uint16_t ch1, uint16_t ch2);
    void OnFailure();
    bool Waiting() const { return m_waiting; }

    // The samples held, oldest first (at most kCapacity, none older than
    // kHoldSeconds behind the newest).
    size_t Size() const { return m_size; }
    const LiveSample &At(size_t i) const { return m_samples[(m_first + i) % kCapacity]; }
    uint64_t Failures() const { return m_failures; }
    const CSampleStats &Stats(int channel) const { return m_stats[static_cast<size_t>(channel)]; }
    // The seconds a trend shows: half a minute to begin with, growing with
    // what is held, in half minutes, up to two minutes.
    double TrendSeconds() const;
    // The mean raw reading of a channel over the last kCaptureSeconds before
    // now, when the channel has been sampled steadily for all of them since
    // the last start, resume or change of value.
    CaptureResult CaptureMean(int channel, double now) const;
    std::optional<DerivedValue> Derived(int channel, uint16_t adc) const;
    // Header and one line per sample held: time, then per channel the raw
    // value, mA and display value (the derived columns empty without ranges).
    std::string Csv() const;

private:
    void Add(const LiveSample &sample);

    std::vector<LiveSample> m_samples;
    size_t m_first = 0, m_size = 0;
    std::array<CSampleStats, kChannelCount> m_stats;
    std::optional<LoopRanges> m_ranges;
    bool m_waiting = false;
    double m_lastSent = -1e9;
    uint64_t m_failures = 0;
    int m_rate = 10;
    bool m_paused = false;
    // Since when each channel's readings have been steady and sampled.
    std::array<double, kChannelCount> m_steadyFrom{};
};
