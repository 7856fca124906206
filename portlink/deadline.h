// A time limit in milliseconds on the clock that only goes forward, or none
// (kInfinite), as every timed operation of the port and its backends takes.
#pragma once

#include <cstdint>

#include "clock.h"
#include "codes.h"

namespace portlink {

class Deadline {
public:
    explicit Deadline(uint32_t timeoutMs)
        : m_infinite(timeoutMs == kInfinite),
          m_end(m_infinite ? 0 : MonotonicMillis() + int64_t{timeoutMs}) {}
    // What is left, 0 once it has passed; kInfinite without a limit.
    uint32_t Remaining() const {
        if (m_infinite) return kInfinite;
        const int64_t left = m_end - MonotonicMillis();
        return left <= 0 ? 0 : static_cast<uint32_t>(left);
    }
    bool Expired() const { return !m_infinite && MonotonicMillis() >= m_end; }

private:
    bool m_infinite;
    int64_t m_end;
};

}  // namespace portlink
