// The line conditions ClearCommError reports, kept as running totals. The
// driver hands each condition to whichever call asks first and clears it, and
// two threads ask: the caller's reads (to size them) and the listener's event
// waits. Asking and counting are one step under a lock, so that no count is
// lost to a concurrent addition and none is missing from a total read after
// the driver gave it out.
#pragma once

#include <windows.h>

#include <mutex>

#include "backend.h"

namespace portlink {

class LineTally {
public:
    // clear(errors) is ClearCommError for the device, errors its flags;
    // false (and the totals unchanged) when it fails.
    template <class Clear>
    bool Take(Clear &&clear) {
        std::lock_guard<std::mutex> lock(m_lock);
        DWORD errors = 0;
        if (!clear(errors)) return false;
        if (errors & CE_BREAK) ++m_counts.breaks;
        if (errors & CE_FRAME) ++m_counts.frame;
        if (errors & CE_RXPARITY) ++m_counts.parity;
        if (errors & CE_OVERRUN) ++m_counts.overrun;
        if (errors & CE_RXOVER) ++m_counts.bufOverrun;
        return true;
    }

    LineCounters Totals() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_counts;
    }

    void Reset() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_counts = LineCounters{};
    }

private:
    std::mutex m_lock;
    LineCounters m_counts{};
};

}  // namespace portlink
