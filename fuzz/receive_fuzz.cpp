// Random chunks with random timer ticks between them, through the link's
// receive assembly (serial reads and TCP arrivals, an awaited answer or none)
// and the session's judgement of every frame. Besides the sanitizers, every
// step checks what must hold whatever arrives: the gathered bytes stay in the
// buffer, a delivered frame starts with STX and is as long as it says, and
// every byte that arrived is delivered, still gathered or counted as dropped.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device_link.h"
#include "frame_judge.h"

namespace {

// What the fake readcom hands out next.
const uint8_t *g_chunk = nullptr;
int32_t g_chunkSize = 0;

void Check(bool condition) {
    if (!condition) abort();
}

int32_t ReadChunk(int32_t, uint8_t *buffer, int32_t *count) {
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

struct Quiet : ILinkMessages {
    void ShowWarning(const std::string &) override {}
    void ShowError(const std::string &, const std::string &) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static uint8_t filler[10000];
    static Quiet quiet;
    const auto byte = [&]() -> uint8_t { return size > 0 ? (--size, *data++) : 0; };
    static CDeviceLink *link = nullptr;
    delete link;
    link = new CDeviceLink(kFakePortlink, &quiet);
    link->UsePort(1, 115200);
    link->Open(LINK_SERIAL, nullptr);
    uint64_t arrived = 0, delivered = 0, dropped = 0;
    const auto account = [&] {
        dropped += link->TakeDiscarded();
        Check(link->m_nRxCount >= 0 && link->m_nRxCount <= CDeviceLink::kBufferSize);
        Check(arrived == delivered + dropped + static_cast<uint64_t>(link->m_nRxCount));
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
                    n = 1 + byte() * 39;  // at most 9,946: one read's worth
                    memset(filler, byte(), static_cast<size_t>(n));
                    bytes = filler;
                } else {
                    const size_t want = (byte() | (byte() << 8)) % 10001;
                    n = static_cast<int32_t>(want < size ? want : size);
                    bytes = data, data += n, size -= static_cast<size_t>(n);
                    if (n == 0) break;
                }
                if (op % 7 != 1 && link->m_nTransport == LINK_SERIAL) {
                    g_chunk = bytes, g_chunkSize = n;
                    link->ReadSerial();
                } else {
                    link->TcpArrival(bytes, n);
                }
                arrived += static_cast<uint64_t>(n);
                break;
            }
            case 3:  // timer ticks, each frame taken and judged
                for (int i = 0; i <= (op >> 3) % 8; ++i) {
                    link->Tick();
                    const auto frame = link->TakeFrame();
                    if (frame.empty()) continue;
                    Check(frame[0] == 0x02);
                    Check(frame.size() < 3 || (frame[1] << 8 | frame[2]) == int(frame.size()));
                    delivered += frame.size();
                    (void)JudgeFrame(frame);
                }
                break;
            case 4:  // the holder's reset after a Send
                link->ResetRxCount();
                break;
            case 5:  // the answer awaited: an ADC read's, a configuration read's, none
                link->AwaitAnswer((op >> 3) % 3 == 0 ? 0 : (op >> 3) % 3 == 1 ? 16 : 26);
                break;
            default:  // another transport: serial, or none
                link->Open((op >> 3) % 2 ? LINK_SERIAL : 0, nullptr);
        }
        account();
    }
    return 0;
}
