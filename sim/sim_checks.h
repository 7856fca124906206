// The device's own integrity codes, worked out bit by bit and apart from the
// program's tables: a simulator that borrowed the program's routines would
// agree with any mistake in them.
#pragma once

#include <cstddef>
#include <cstdint>

// The standard CRC-16/MODBUS value (reflected 0xA001, start 0xFFFF, no final
// XOR): "123456789" gives 0x4B37. On the wire its low byte goes first.
uint16_t DeviceCrc16(const uint8_t *bytes, size_t count);

// XOR of count bytes (0 for none): the checksum byte of every frame.
uint8_t DeviceXor(const uint8_t *bytes, size_t count);
