// Integer conversion of user and file text the way the C library's atoi reads
// it: leading blanks, an optional sign, decimal digits, the rest ignored, no
// digits gives 0. Kept apart from atoi itself so that overflow is defined.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

struct ParsedNumber {
    uint32_t wrapped;  // the value modulo 2^32, as a 32-bit atoi that wraps gives it
    bool overflow;     // the magnitude did not fit in a signed 32-bit value
    bool negative;
};

ParsedNumber ParseLikeAtoi(std::string_view text);

// The value limited to the int range (an overflowing text saturates).
int32_t SaturatingAtoi(std::string_view text);

// An edit field's text as the device gets it: converted the way atoi does
// from at most its first 15 characters, keeping the low 16 bits.
uint16_t FieldTextToWord(const char *text);
