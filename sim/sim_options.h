// What the simulated device does wrong, on purpose: the faults of a real
// device and cable, for tests and demonstrations.
#pragma once

#include <cstdint>

struct SimOptions {
    int delayMs = 0;       // answer this long after the request
    int splitSize = 0;     // send an answer in pieces of this many bytes (0: whole)
    int pauseMs = 0;       // pause between pieces: garbage, answer pieces, second copy
    uint32_t garbage = 0;  // garbage bytes sent before each answer
    bool badChecksum = false;
    bool twice = false;
    bool silent = false;
    uint32_t seed = 1;
};

// Small, fast and reproducible: the same seed gives the same drift and garbage.
class CSimRandom {
public:
    explicit CSimRandom(uint32_t seed) : m_state(seed ? seed : 0x9E3779B9u) {}
    uint32_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    // Uniform in [low, high].
    int Range(int low, int high) {
        return low + static_cast<int>(Next() % static_cast<uint32_t>(high - low + 1));
    }

private:
    uint32_t m_state;
};

// Garbage never contains STX: a receiver gathers it as a frame start, and the
// tests want to predict what happens.
void FillGarbage(uint8_t *bytes, uint32_t count, CSimRandom &random);
