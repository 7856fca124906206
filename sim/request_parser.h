// Finds request frames in the byte stream a client sends, skipping garbage:
// anything before an STX, an STX whose length is implausible, or a frame
// whose ETX is not where its length says. Fixed storage, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frames.h"

class CRequestParser {
public:
    static constexpr size_t kMinFrame = kFramingSize;
    static constexpr size_t kMaxFrame = 256;  // far above the longest request (25)
    static constexpr size_t kCapacity = 4096;

    enum class Result {
        None,         // nothing complete yet
        Frame,        // a whole frame with a good checksum
        BadChecksum,  // a whole frame (STX, length, ETX in place) whose checksum is wrong
    };

    struct Request {
        uint8_t bytes[kMaxFrame];
        size_t length = 0;
        uint8_t expectedChecksum = 0;  // for BadChecksum: what it should have been
        size_t skipped = 0;            // garbage bytes dropped before it
    };

    // Takes every byte; when the store is full the oldest bytes are dropped as garbage.
    void Push(const uint8_t *bytes, size_t count);
    // Takes the next complete frame out of the stream.
    Result Next(Request &out);
    // The client went quiet in the middle of something that looked like a
    // frame start; a real request comes in one burst, so drop what is waiting.
    // Returns the number of bytes dropped.
    size_t Flush();

    size_t Pending() const { return m_count; }

private:
    void Drop(size_t count);
    // A whole frame with ETX and checksum in place starts at offset.
    bool ValidFrameAt(size_t offset) const;

    uint8_t m_buffer[kCapacity];
    size_t m_count = 0;
    size_t m_skipped = 0;
};
