#include "live_view_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "machine_text.h"

// The whole buffer up front: a live view that runs for hours allocates
// nothing per sample.
CLiveViewModel::CLiveViewModel() : m_samples(kCapacity) {}

void CLiveViewModel::Reset() {
    m_first = m_size = 0;
    m_stats = {};
    m_waiting = false;
    m_lastSent = -1e9;
    m_failures = 0;
    m_paused = false;
    m_steadyFrom = {};
}

void CLiveViewModel::SetRate(int perSecond) {
    m_rate = std::clamp(perSecond, kMinRate, kMaxRate);
}

void CLiveViewModel::SetPaused(bool paused, double now) {
    if (m_paused && !paused) m_steadyFrom.fill(now);
    m_paused = paused;
}

bool CLiveViewModel::Due(double now) const {
    return !m_paused && !m_waiting && now - m_lastSent >= 1.0 / m_rate - 1e-9;
}

void CLiveViewModel::OnSent(double now) {
    // Due times follow the schedule, not the answers, so that a slow answer
    // does not slow the rate down for good.
    m_lastSent = now - m_lastSent < 2.0 / m_rate ? m_lastSent + 1.0 / m_rate : now;
    m_waiting = true;
}

void CLiveViewModel::OnAnswer(double now, uint16_t ch1, uint16_t ch2) {
    m_waiting = false;
    const LiveSample sample{now, {ch1, ch2}};
    for (size_t ch = 0; ch < kChannelCount; ++ch) {
        // A jump is a new value applied: the two seconds of a capture begin
        // with this reading.
        if (m_size > 0 && std::abs(int(sample.adc[ch]) - int(At(m_size - 1).adc[ch])) > kStepCounts)
            m_steadyFrom[ch] = now;
    }
    Add(sample);
}

void CLiveViewModel::OnFailure() {
    m_waiting = false;
    ++m_failures;
}

void CLiveViewModel::Add(const LiveSample &sample) {
    // Older than the hold: gone, whatever the rate.
    while (m_size > 0 && sample.seconds - At(0).seconds > kHoldSeconds) {
        m_first = (m_first + 1) % kCapacity;
        --m_size;
    }
    if (m_size < kCapacity) {
        m_samples[(m_first + m_size++) % kCapacity] = sample;
    } else {
        m_samples[m_first] = sample;
        m_first = (m_first + 1) % kCapacity;
    }
    for (size_t ch = 0; ch < kChannelCount; ++ch) m_stats[ch].Add(sample.adc[ch]);
}

double CLiveViewModel::TrendSeconds() const {
    const double held = m_size ? At(m_size - 1).seconds - At(0).seconds : 0;
    return std::clamp(std::ceil(held / 30) * 30, 30.0, 120.0);
}

CaptureResult CLiveViewModel::CaptureMean(int channel, double now) const {
    CaptureResult result;
    const double from = now - kCaptureSeconds;
    const double steadyFrom = m_steadyFrom[static_cast<size_t>(channel)];
    double sum = 0;
    size_t n = 0;
    double oldest = now;
    // Newest first, until the window is left behind.
    for (size_t i = m_size; i-- > 0;) {
        const LiveSample &s = At(i);
        if (s.seconds < from || s.seconds < steadyFrom) break;
        if (s.seconds > now) continue;
        sum += s.adc[static_cast<size_t>(channel)];
        oldest = s.seconds;
        ++n;
    }
    // The readings must cover the window (each stands for the sample period
    // up to it) and reach back past the last start, resume or change.
    const double covered = n == 0 ? 0 : now - oldest + 1.0 / m_rate;
    const double since = now - steadyFrom;
    result.steadySeconds = std::clamp(std::min(covered, since), 0.0, kCaptureSeconds);
    if (n >= 2 && covered >= kCaptureSeconds - 1e-9 && since >= kCaptureSeconds - 1e-9)
        result.mean = sum / static_cast<double>(n);
    return result;
}

std::optional<DerivedValue> CLiveViewModel::Derived(int channel, uint16_t adc) const {
    if (!m_ranges) return std::nullopt;
    return Derive((*m_ranges)[static_cast<size_t>(channel)], adc);
}

std::string CLiveViewModel::Csv() const {
    std::string csv = "time_s,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display\n";
    for (size_t i = 0; i < m_size; ++i) {
        const LiveSample &s = At(i);
        AppendFixed(csv, s.seconds, 3);
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const uint16_t adc = s.adc[static_cast<size_t>(ch)];
            csv += ',' + std::to_string(adc) + ',';
            if (const auto d = Derived(ch, adc)) {
                AppendFixed(csv, d->milliamps, 3);
                csv += ',';
                AppendFixed(csv, d->display, 3);
            } else {
                csv += ',';
            }
        }
        csv += '\n';
    }
    return csv;
}
