#include "sim_checks.h"

uint16_t DeviceCrc16(const uint8_t *bytes, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = crc & 1u;
            crc >>= 1;
            if (carry) crc ^= 0xA001;
        }
    }
    return crc;
}

uint8_t DeviceXor(const uint8_t *bytes, size_t count) {
    uint8_t x = 0;
    for (size_t i = 0; i < count; ++i) x ^= bytes[i];
    return x;
}
