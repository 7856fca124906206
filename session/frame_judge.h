// What one frame from the device says, judged whole before anything is
// shown: its framing, its checksum, its command and status, and the values
// it carries. Also the words the dialog's log uses for a request and an
// answer, which every front end that keeps that log writes the same way.
#pragma once

#include <cstdint>
#include <span>

#include "response_outcome.h"

// Whatever the bytes, they are judged, never trusted: a frame too short for
// its command's values carries none.
ResponseOutcome JudgeFrame(std::span<const uint8_t> frame);

// A response's log lines in order: "Serial Full", then "ERROR STX or ETX or
// Contol", or "ERROR CRC" (when the checksum failed), the command's name and
// the closing line ("Ok!", "Error response!", "CRC16 Ok!", "CRC16 Error!").
struct ResponseLogLines {
    const char *line[4] = {};
    int count = 0;
};
ResponseLogLines LogLinesOf(const ResponseOutcome &out);

// "Send ADC Read", "Send Config Read", "Send Config Write"; empty for another command.
const char *SendLogText(uint8_t command);
// "CMD_GET_ADC_VALUE", ...; empty for another command.
const char *CommandName(uint8_t command);
// The size of the answer to a request with this command (0: none known).
int32_t AnswerSize(uint8_t command);
// The word a script reads for the answer: the closing line, or "ERROR CRC"
// for values whose checksum failed.
const char *ResultText(const ResponseOutcome &out);
