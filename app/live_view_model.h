// The live view's state, free of any window: when the next ADC read is due,
// the readings of the last minutes, statistics since the start, the mean of
// the last seconds for a two-point capture, and the samples as CSV. Both
// windows draw it; the polling goes through the dialog's own link, one
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

class CLiveViewModel {
public:
    static constexpr int kMinRate = 1;   // samples a second
    static constexpr int kMaxRate = 20;
    // What the trend shows and the CSV holds: five minutes at the top rate.
    static constexpr size_t kCapacity = 5 * 60 * kMaxRate;
    static constexpr double kCaptureSeconds = 2.0;
    // A request unanswered this long counts as failed and the next is sent.
    static constexpr double kAnswerTimeoutSeconds = 1.0;

    CLiveViewModel();

    // 1 to 20 samples a second; other values are brought into that range.
    void SetRate(int perSecond);
    int Rate() const { return m_rate; }
    void SetPaused(bool paused) { m_paused = paused; }
    bool Paused() const { return m_paused; }
    // The ranges the derived values come from (none: raw values only).
    void SetRanges(const std::optional<LoopRanges> &ranges) { m_ranges = ranges; }
    const std::optional<LoopRanges> &Ranges() const { return m_ranges; }

    // The polling: whether a request should go out now, and what became of it.
    bool Due(double now) const;
    void OnSent(double now);
    void OnAnswer(double now, uint16_t ch1, uint16_t ch2);
    // A failed request; also what Expired reports for one that had no answer.
    void OnFailure(double now);
    // True once when the request in flight has waited too long; it is then
    // counted as failed.
    bool Expired(double now);
    bool Waiting() const { return m_sentAt.has_value(); }

    // The samples held, oldest first (at most kCapacity).
    size_t Size() const { return m_size; }
    const LiveSample &At(size_t i) const { return m_samples[(m_first + i) % kCapacity]; }
    uint64_t Failures() const { return m_failures; }
    const CSampleStats &Stats(int channel) const { return m_stats[static_cast<size_t>(channel)]; }
    // The seconds a trend shows: half a minute to begin with, growing with
    // what is held, in half minutes, up to two minutes.
    double TrendSeconds() const;
    // The mean raw reading of a channel over the last kCaptureSeconds before
    // now; none without a sample there.
    std::optional<double> CaptureMean(int channel, double now) const;
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
    std::optional<double> m_sentAt;
    double m_lastSent = -1e9;
    uint64_t m_failures = 0;
    int m_rate = 10;
    bool m_paused = false;
};
