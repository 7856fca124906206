// Random bytes, in random pieces, into loopsim's request parsing and answers:
// every frame it takes must be whole and sound, every answer well framed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "frames.h"
#include "request_parser.h"
#include "sim_session.h"

namespace {

void Check(bool condition) {
    if (!condition) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static FILE *sink = fopen("/dev/null", "w");
    static CRequestParser parser;
    static CRequestParser::Request request;
    parser.Flush();

    CSimDevice device;
    CSimSession session(SimOptions{}, device, sink);
    size_t at = 0;
    int64_t now = 0;
    while (at < size) {
        // One byte says how many of the following bytes come in one read.
        const size_t piece = 1 + data[at++] % 64;
        const size_t n = piece < size - at ? piece : size - at;
        parser.Push(data + at, n);
        session.OnBytes(data + at, n, now);
        at += n;
        now += 1000;

        Check(parser.Pending() <= CRequestParser::kCapacity);
        for (;;) {
            const CRequestParser::Result r = parser.Next(request);
            if (r == CRequestParser::Result::None) break;
            const uint8_t *f = request.bytes;
            const size_t length = request.length;
            Check(length >= CRequestParser::kMinFrame && length <= CRequestParser::kMaxFrame);
            Check(f[0] == STX && f[length - 1] == ETX);
            Check(static_cast<size_t>(f[1] << 8 | f[2]) == length);
            const bool good = XorChecksum(f, length - 2) == f[length - 2];
            Check(good == (r == CRequestParser::Result::Frame));
        }
        // Whatever the session queued is a well-framed answer.
        COutbox &outbox = session.Outbox();
        while (!outbox.Empty()) {
            const COutbox::Piece &p = outbox.Front();
            Check(p.garbage == 0);
            Check(p.length == kAdcResponseSize || p.length == kConfigResponseSize ||
                  p.length == kWriteResponseSize);
            Check(p.bytes[0] == STX && p.bytes[p.length - 1] == ETX && p.bytes[4] == 0);
            Check(XorChecksum(p.bytes, p.length - 2u) == p.bytes[p.length - 2]);
            outbox.PopFront();
        }
        session.OnTime(now + CSimSession::kStaleUs);
    }
    return 0;
}
