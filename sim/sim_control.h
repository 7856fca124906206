// The control channel of the simulated instrument: a FIFO whose lines change
// the applied currents (and the converter's errors) while loopsim runs, so a
// script can play the current source of a calibration.
#pragma once

#include <cstddef>
#include <cstdio>

#include "sim_instrument.h"

class CSimControl {
public:
    // Longer lines are reported and ignored.
    static constexpr size_t kMaxLine = 256;
    // At most this much is taken per turn (a full pipe's worth), so a writer
    // that never stops cannot starve the clients.
    static constexpr size_t kMaxTurnBytes = 65536;

    CSimControl() = default;
    ~CSimControl();
    CSimControl(const CSimControl &) = delete;
    CSimControl &operator=(const CSimControl &) = delete;

    // Uses the FIFO at path, creating it when absent (and removing it again at
    // the end). False with the reason in error.
    bool Open(const char *path, char *error, size_t errorSize);
    int Fd() const { return m_fd; }

    // Applies every whole line waiting in the FIFO to instrument; each line
    // taken and each one refused gets a line in log.
    void Drain(SimInstrument &instrument, FILE *log);

private:
    void Take(SimInstrument &instrument, FILE *log);

    int m_fd = -1;
    bool m_created = false;
    char m_path[4096] = {};
    char m_line[kMaxLine] = {};
    size_t m_length = 0;
    bool m_overlong = false;  // skipping to the end of a line too long to keep
};
