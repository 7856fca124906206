// A clock that only goes forward: for deadlines and intervals, never for
// what the operator reads.
#pragma once

#include <cstdint>

// Microseconds since an arbitrary fixed point (the machine's boot, say).
int64_t MonotonicMicros();

inline int64_t MonotonicMillis() {
    return MonotonicMicros() / 1000;
}
