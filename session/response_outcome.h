// What one response from the device says, as the session judged it: front
// ends act on this (loopctl's exit status, a production line's script, the
// dialog's fields), never on the log's wording.
#pragma once

#include <cstdint>

#include "frames.h"

struct ResponseOutcome {
    enum class Kind : uint8_t {
        Ok,              // the command's success status; values shown
        ChecksumError,   // the checksum did not match; values shown all the same, may be wrong
        Malformed,       // STX, ETX or control byte wrong: nothing read from it
        Refused,         // the device answered with another status (a write's CRC error too)
        UnknownCommand,  // a well-framed response to none of the three commands
    };

    Kind kind = Kind::Malformed;
    uint8_t command = 0;  // the response's command byte; 0 when malformed
    uint8_t status = 0;
    bool checksumOk = false;
    // The log line that closes the response ("Ok!", "CRC16 Error!", ...; for a
    // malformed frame its error line); empty for an unknown command, which
    // the log does not name.
    const char *text = "";

    // Set for what the fields now show.
    bool hasAdc = false;
    uint16_t ch1 = 0, ch2 = 0;
    bool hasConfig = false;
    ConfigValues config{};
    bool hasExtra = false;
    uint16_t extra = 0;
};
