// Random chunks with random timer ticks between them, through the link's
// receive assembly (serial reads and TCP arrivals) and the dialog's response
// handling. Besides the sanitizers, every step is checked against a model of
// the assembly rules kept here in its plainest form.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fake_view.h"
#include "loopset_dlg.h"

namespace {

// What the fake readcom hands out next, and how often it was asked.
const uint8_t *g_chunk = nullptr;
int32_t g_chunkSize = 0, g_reads = 0;

void Check(bool condition) {
    if (!condition) abort();
}

int32_t ReadChunk(int32_t, uint8_t *buffer, int32_t *count) {
    ++g_reads;
    Check(*count == 0);  // asked with 0: everything waiting
    memcpy(buffer, g_chunk, static_cast<size_t>(g_chunkSize));
    *count = g_chunkSize;
    g_chunkSize = 0;
    return 0;
}

// Every other call succeeds (opencom, setcom, ondata and writecom say so with 0).
constexpr auto kOne = [](auto...) -> int32_t { return 1; };
constexpr auto kZero = [](auto...) -> int32_t { return 0; };
const PortlinkApi kFakePortlink = {kOne,  kOne, kZero, kZero,     kOne, kOne,
                                   kZero, kOne, kZero, ReadChunk, kOne, kOne};

// The assembly rules, written out plainly.
struct Model {
    uint8_t rx[65536];
    int32_t count = 0, expected = 0, idle = 6;

    void Add(const uint8_t *bytes, int32_t n, bool serial) {
        if (idle >= 5 || count > (serial ? 32768 : 65536 - n)) count = 0;
        memcpy(rx + count, bytes, static_cast<size_t>(n));
        count += n;
        if (serial && count > 32768) count = 0;
        idle = 0;
        // A serial read takes the length at once; a TCP arrival only when it ends in ETX.
        if ((serial || rx[count - 1] == 0x03) && rx[0] == 0x02 && count >= 5)
            expected = rx[1] * 256 + rx[2];
    }
    // One tick after the link's: a complete frame is the first expected bytes, NUL-terminated.
    void Tick(const CDeviceLink &link) {
        if (idle < 5) ++idle;
        if (link.m_nTransport == 0 || expected == 0 || count < expected) return;
        Check(link.m_nFrameLength == expected && link.m_frameBuffer[expected] == 0);
        Check(memcmp(link.m_frameBuffer, rx, static_cast<size_t>(expected)) == 0);
        count -= expected;
        memmove(rx, rx + expected, static_cast<size_t>(count));
        expected = 0;
        idle = 6;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static uint8_t filler[65536];
    static Model model;
    model.count = model.expected = 0, model.idle = 6;
    const auto byte = [&]() -> uint8_t { return size > 0 ? (--size, *data++) : 0; };
    FakeView view;
    auto dlg =
        std::make_unique<CLoopsetDlg>(view, "/nonexistent/loopset-fuzz/config.ini", kFakePortlink);
    dlg->Log().SetClock([] { return LocalTime{2026, 1, 1, 0, 0, 0}; });
    dlg->OnInitDialog();
    CDeviceLink &link = dlg->Link();
    const int32_t port = link.m_nPort;
    const auto compare = [&] {
        Check(link.m_nRxCount == model.count && link.m_nExpectedLength == model.expected);
        Check(link.m_nIdleTicks == model.idle && link.m_nFramesReady == 0);
    };

    while (size > 0) {
        const uint8_t op = byte();
        switch (op % 7) {
            case 0:  // a chunk from the input, serial (if the link is) or TCP
            case 1:
            case 2: {  // or a long run of one byte, to reach the limits
                const uint8_t *bytes = data;
                int32_t n = 0;
                if (op % 7 == 2) {
                    const uint8_t value = byte();
                    n = 1 + byte() * 39;  // at most 9,946: one read's worth
                    memset(filler, value, static_cast<size_t>(n));
                    bytes = filler;
                } else {
                    const size_t want = (byte() | (byte() << 8)) % 10001;
                    n = static_cast<int32_t>(want < size ? want : size);
                    bytes = data, data += n, size -= static_cast<size_t>(n);
                    if (n == 0) break;
                }
                const bool serial = op % 7 != 1 && link.m_nTransport == LINK_SERIAL;
                if (serial) {
                    g_chunk = bytes, g_chunkSize = n, g_reads = 0;
                    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, port});
                    Check(g_reads == 1);
                } else {
                    link.TcpArrival(bytes, n);
                }
                model.Add(bytes, n, serial);
                break;
            }
            case 3:  // timer ticks
                for (int i = 0; i <= (op >> 3) % 8; ++i) {
                    dlg->OnTimer(0);
                    model.Tick(link);
                    compare();
                }
                break;
            case 4:  // the holder's reset after a Send
                link.ResetRxCount();
                model.count = 0;
                break;
            default:  // another transport: serial, TCP, or none
                link.m_nTransport = static_cast<uint8_t>((op >> 3) % 4);
        }
        compare();
    }
    return 0;
}
