// Random chunks with random timer ticks between them, through the link's
// receive assembly (serial reads and TCP arrivals) and the dialog's response
// handling. Besides the sanitizers, every step is checked against a model of
// the assembly rules kept here in its plainest form.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "headless_view.h"
#include "loopset_dlg.h"

namespace {

// What the fake readcom hands out next.
const uint8_t *g_chunk = nullptr;
int32_t g_chunkSize = 0;
int g_reads = 0;

int32_t Ok0(int32_t) {
    return 0;
}
int32_t Ok1(int32_t) {
    return 1;
}

const PortlinkApi kFakePortlink = {
    [](PortlinkWindow *) -> int32_t { return 1; },
    []() -> int32_t { return 1; },
    Ok0,
    [](int32_t, int32_t, int32_t) -> int32_t { return 0; },
    [](int32_t, int32_t) -> int32_t { return 1; },
    [](int32_t, int32_t) -> int32_t { return 1; },
    [](int32_t, int32_t) -> int32_t { return 0; },
    Ok1,
    [](int32_t, const uint8_t *, int32_t) -> int32_t { return 0; },
    [](int32_t, uint8_t *buffer, int32_t *count) -> int32_t {
        ++g_reads;
        // Asked with 0: everything waiting, never more than 10,000 bytes.
        if (*count != 0) abort();
        memcpy(buffer, g_chunk, static_cast<size_t>(g_chunkSize));
        *count = g_chunkSize;
        g_chunkSize = 0;
        return 0;
    },
    [](int32_t, int32_t) -> int32_t { return 1; },
    [](int32_t, int32_t, int32_t) -> int32_t { return 1; },
};

// The assembly rules, written out plainly.
struct Model {
    static constexpr int32_t kSize = 65536;
    uint8_t rx[kSize];
    uint8_t frame[kSize];
    int32_t count = 0, expected = 0, idle = 6, frameLength = 0;
    bool ready = false;

    void Reset() {
        count = expected = frameLength = 0;
        idle = 6;
        ready = false;
    }
    void TakeStart() {
        if (rx[0] == 0x02 && count >= 5) expected = rx[1] * 256 + rx[2];
    }
    void Serial(const uint8_t *bytes, int32_t n) {
        if (idle >= 5) count = 0;
        if (count > 32768) count = 0;  // only after TCP arrivals
        memcpy(rx + count, bytes, static_cast<size_t>(n));
        count += n;
        if (count > 32768) count = 0;
        idle = 0;
        TakeStart();
    }
    void Tcp(const uint8_t *bytes, int32_t n) {
        if (idle >= 5) count = 0;
        if (count > kSize - n) count = 0;
        memcpy(rx + count, bytes, static_cast<size_t>(n));
        count += n;
        idle = 0;
        if (rx[count - 1] == 0x03) TakeStart();
    }
    void Tick(uint8_t transport) {
        ready = false;
        if (idle < 5) ++idle;
        if (transport == 0 || expected == 0 || count < expected) return;
        const int32_t l = expected;
        count -= l;
        memcpy(frame, rx, static_cast<size_t>(l));
        frame[l] = 0;
        memmove(rx, rx + l, static_cast<size_t>(count));
        frameLength = l;
        expected = 0;
        idle = 6;
        ready = true;
    }
};

Model g_model;

void Check(bool condition) {
    if (!condition) abort();
}

void Compare(const CDeviceLink &link) {
    Check(link.m_nRxCount == g_model.count);
    Check(link.m_nExpectedLength == g_model.expected);
    Check(link.m_nIdleTicks == g_model.idle);
    Check(link.m_nFramesReady == 0);  // the dialog takes every frame at once
}

struct Input {
    const uint8_t *data;
    size_t size;
    uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    // Up to want bytes, fewer at the end of the input.
    const uint8_t *Take(size_t want, int32_t &got) {
        got = static_cast<int32_t>(want < size ? want : size);
        const uint8_t *at = data;
        data += got;
        size -= static_cast<size_t>(got);
        return at;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static uint8_t filler[65536];
    Input in{data, size};
    CHeadlessView view;
    auto dlg =
        std::make_unique<CLoopsetDlg>(view, "/nonexistent/loopset-fuzz/config.ini", kFakePortlink);
    dlg->Log().SetClock([] { return LocalTime{2026, 1, 1, 0, 0, 0}; });
    dlg->OnInitDialog();
    CDeviceLink &link = dlg->Link();
    g_model.Reset();
    const int32_t port = link.m_nPort;

    while (in.size > 0) {
        const uint8_t op = in.Byte();
        switch (op % 7) {
            case 0:
            case 1: {  // a chunk from the input, serial or TCP
                const size_t want = (in.Byte() | (in.Byte() << 8)) % 10001;
                int32_t n = 0;
                const uint8_t *bytes = in.Take(want, n);
                if (n == 0) break;
                if (op % 7 == 0 && link.m_nTransport == LINK_SERIAL) {
                    g_chunk = bytes;
                    g_chunkSize = n;
                    g_reads = 0;
                    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, port});
                    Check(g_reads == 1);
                    g_model.Serial(bytes, n);
                } else {
                    link.TcpArrival(bytes, n);
                    g_model.Tcp(bytes, n);
                }
                break;
            }
            case 2: {  // a long run of one byte, to reach the limits
                const uint8_t value = in.Byte();
                const int32_t n = 1 + in.Byte() * 39;  // at most 9,946: one read's worth
                memset(filler, value, static_cast<size_t>(n));
                if (link.m_nTransport == LINK_SERIAL) {
                    g_chunk = filler;
                    g_chunkSize = n;
                    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, port});
                    g_model.Serial(filler, n);
                } else {
                    link.TcpArrival(filler, n);
                    g_model.Tcp(filler, n);
                }
                break;
            }
            case 3: {  // timer ticks
                const int ticks = 1 + (op >> 3) % 8;
                for (int i = 0; i < ticks; ++i) {
                    dlg->OnTimer(0);
                    g_model.Tick(link.m_nTransport);
                    if (g_model.ready) {
                        Check(link.m_nFrameLength == g_model.frameLength);
                        Check(memcmp(link.m_frameBuffer, g_model.frame,
                                     static_cast<size_t>(g_model.frameLength) + 1) == 0);
                    }
                    Compare(link);
                }
                break;
            }
            case 4:  // the holder's reset after a Send
                link.ResetRxCount();
                g_model.count = 0;
                break;
            case 5: {  // a notification that is not for us: no read
                g_reads = 0;
                const int32_t other = static_cast<int32_t>(in.Byte()) - 128;
                if (other == port) break;
                dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, other});
                dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY + 1, 1, port});
                Check(g_reads == 0);
                break;
            }
            default:  // another transport: serial, TCP, or none
                link.m_nTransport = static_cast<uint8_t>((op >> 3) % 4);
                break;
        }
        Compare(link);
    }
    return 0;
}
