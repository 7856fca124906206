// The simulated two-channel 4-20 mA device: what it answers to a request
// frame that arrived whole and with a good checksum. No I/O, no clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frames.h"
#include "sim_instrument.h"
#include "sim_options.h"

class CSimDevice {
public:
    // Channel values start near 8 mA and 14 mA of a 12-bit converter that
    // maps 4-20 mA onto 819-4095.
    static constexpr uint16_t kStartCh1 = 1638;
    static constexpr uint16_t kStartCh2 = 2867;
    static constexpr ConfigValues kFactoryConfig{819, 4095, 0, 1000, 819, 4095, 0, 2000};

    explicit CSimDevice(uint32_t seed = 1);

    // Builds the answer to one request frame into reply (room for
    // kMaxResponseSize bytes) and returns its length; 0 means no answer (an
    // unknown command or a known one of the wrong length). description gets a
    // one-line account of what happened.
    size_t Answer(const uint8_t *request, size_t length, uint8_t *reply, char *description,
                  size_t descriptionSize);

    // With the instrument on, ADC reads answer its counts instead of the drift.
    SimInstrument &Instrument() { return m_instrument; }
    const ConfigValues &Config() const { return m_config; }
    uint16_t Channel(int index) const { return m_channel[index]; }
    // The extra value every answer carries: the number of answers given so
    // far, this one included, so a client can tell a fresh answer from a stale one.
    uint16_t AnswerCount() const { return m_answers; }
    // Requests taken so far (answered or not), over every client; numbers the log lines.
    unsigned long CountRequest() { return ++m_requests; }
    unsigned long Requests() const { return m_requests; }

private:
    void Drift();
    void Measure();
    size_t Finish(uint8_t *reply, size_t length);

    CSimRandom m_random;
    SimInstrument m_instrument;
    ConfigValues m_config = kFactoryConfig;
    uint16_t m_channel[2] = {kStartCh1, kStartCh2};
    int m_target[2] = {kStartCh1, kStartCh2};
    uint16_t m_answers = 0;
    unsigned long m_requests = 0;
};
