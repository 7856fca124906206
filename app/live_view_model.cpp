#include "live_view_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// The whole buffer up front: a live view that runs for hours allocates
// nothing per sample.
CLiveViewModel::CLiveViewModel() : m_samples(kCapacity) {}

void CLiveViewModel::SetRate(int perSecond) {
    m_rate = std::clamp(perSecond, kMinRate, kMaxRate);
}

bool CLiveViewModel::Due(double now) const {
    return !m_paused && !m_sentAt && now - m_lastSent >= 1.0 / m_rate - 1e-9;
}

void CLiveViewModel::OnSent(double now) {
    // Due times follow the schedule, not the answers, so that a slow answer
    // does not slow the rate down for good.
    m_lastSent = now - m_lastSent < 2.0 / m_rate ? m_lastSent + 1.0 / m_rate : now;
    m_sentAt = now;
}

void CLiveViewModel::OnAnswer(double now, uint16_t ch1, uint16_t ch2) {
    m_sentAt.reset();
    Add({now, {ch1, ch2}});
}

void CLiveViewModel::OnFailure(double /*now*/) {
    m_sentAt.reset();
    ++m_failures;
}

bool CLiveViewModel::Expired(double now) {
    if (!m_sentAt || now - *m_sentAt < kAnswerTimeoutSeconds) return false;
    OnFailure(now);
    return true;
}

void CLiveViewModel::Add(const LiveSample &sample) {
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

std::optional<double> CLiveViewModel::CaptureMean(int channel, double now) const {
    double sum = 0;
    size_t n = 0;
    // Newest first, until the window is left behind.
    for (size_t i = m_size; i-- > 0;) {
        const LiveSample &s = At(i);
        if (s.seconds <= now - kCaptureSeconds) break;
        if (s.seconds > now) continue;
        sum += s.adc[static_cast<size_t>(channel)];
        ++n;
    }
    if (n == 0) return std::nullopt;
    return sum / static_cast<double>(n);
}

std::optional<DerivedValue> CLiveViewModel::Derived(int channel, uint16_t adc) const {
    if (!m_ranges) return std::nullopt;
    return Derive((*m_ranges)[static_cast<size_t>(channel)], adc);
}

std::string CLiveViewModel::Csv() const {
    std::string csv = "time_s,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display\n";
    char cell[64];
    for (size_t i = 0; i < m_size; ++i) {
        const LiveSample &s = At(i);
        std::snprintf(cell, sizeof cell, "%.3f", s.seconds);
        csv += cell;
        for (int ch = 0; ch < kChannelCount; ++ch) {
            const uint16_t adc = s.adc[static_cast<size_t>(ch)];
            std::snprintf(cell, sizeof cell, ",%u", adc);
            csv += cell;
            if (const auto d = Derived(ch, adc)) {
                std::snprintf(cell, sizeof cell, ",%.3f,%.3f", d->milliamps, d->display);
                csv += cell;
            } else {
                csv += ",,";
            }
        }
        csv += '\n';
    }
    return csv;
}
