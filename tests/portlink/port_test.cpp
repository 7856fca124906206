// The port classes and the application object over the fake backend: result
// codes, failing OS calls, time-outs, and the listener's events and stops.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>

#include "com_event_port.h"
#include "fake_backend.h"
#include "helpers.h"
#include "portlink_app.h"

namespace portlink::test {
namespace {

using namespace std::chrono_literals;
using Op = FakeBackend::Op;
using Device = FakeBackend::Device;
constexpr const char *kDev = "fake0";

class PortTest : public ::testing::Test {
protected:
    void SetUp() override {
        backend.Change(kDev, [](Device &) {});
    }
    FakeBackend backend;
    CComPort port{backend};
    uint8_t buffer[16] = {};
};

TEST_F(PortTest, EachFailingOsCallGivesItsCode) {
    EXPECT_EQ(port.Write(buffer, 1, nullptr, kInfinite), kErrInvalidHandle) << "not open";
    const std::pair<Op, std::function<uint32_t(CComPort &)>> cases[] = {
        {Op::GetState, [](CComPort &p) { return p.Configure(9600, 8, 0, 0); }},
        {Op::SetState, [](CComPort &p) { return p.Configure(9600, 8, 0, 0); }},
        {Op::Modem, [](CComPort &p) { return p.SetFlowControl(0); }},
        {Op::Write, [&](CComPort &p) { return p.Write(buffer, 4, nullptr, kInfinite); }},
        {Op::Read, [&](CComPort &p) { return p.Read(buffer, 4, nullptr, kInfinite); }},
        {Op::Purge, [](CComPort &p) { return p.Purge(kPurgeRxClear); }},
        {Op::Wait, [](CComPort &p) { return p.WaitForEvents(100); }},
    };
    for (const auto &[op, call] : cases) {
        CComPort p(backend);
        ASSERT_EQ(p.Open(kDev, 0, 0, true), 0u);
        backend.FailNext(op, kErrIoDevice);
        EXPECT_EQ(call(p), kErrIoDevice) << int(op);
        EXPECT_EQ(p.LastError(), kErrIoDevice);
        EXPECT_EQ(p.BaudRate(), 9600) << "the port stays usable";
    }
    // A failed open, also one that fails after the device was opened, holds
    // nothing and can be retried.
    for (Op op : {Op::Open, Op::Waker}) {
        backend.FailNext(op, kErrNotEnoughMemory);
        EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrNotEnoughMemory);
        EXPECT_EQ(backend.Snapshot(kDev).openCount, 0);
    }
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrAlreadyInitialized);
}

TEST_F(PortTest, BoundedWaitsTimeOutAndCancel) {
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    EXPECT_EQ(port.WaitForEvents(50), kErrTimeout);
    // A transmitter that takes two bytes and then nothing more.
    backend.Change(kDev, [](Device &d) { d.txRoom = 2; });
    uint32_t count = 99;
    EXPECT_EQ(port.Write(buffer, 5, &count, 50), kErrTimeout);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(backend.Snapshot(kDev).outputPurges, 1) << "the unsent rest is cancelled";
    // A timed-out blocking read keeps what did arrive.
    ASSERT_EQ(port.SetReadMode(kReadBlocking), 0u);
    backend.Receive(kDev, {7, 8});
    EXPECT_EQ(port.Read(buffer, 5, &count, 50), kErrTimeout);
    EXPECT_EQ(count, 2u);
}

// A CComWndPort over the fake, posting to a Recorder.
class ListenerTest : public PortTest {
protected:
    void Open() {
        const PortlinkWindow window = recorder.Window();
        ASSERT_EQ(wnd.Open(kDev, &window, kWmPortNotify, 7, 0, 0), 0u);
    }
    void Read() { wnd.Read(buffer, sizeof buffer, nullptr, kInfinite); }
    // The bits of the messages from index first on, once they include expected:
    // a condition that lands as a read re-arms the listener may come as two
    // messages (the condition, then the data).
    uint32_t BitsSince(size_t first, uint32_t expected) {
        uint32_t bits = 0;
        for (int i = 0; i < 50 && bits != expected; ++i) {
            recorder.WaitFor(first + 1, 100ms);
            const std::vector<Posted> all = recorder.All();
            for (; first < all.size(); ++first) bits |= all[first].wparam;
        }
        return bits;
    }
    Recorder recorder;
    CComWndPort wnd{backend};
};

TEST_F(ListenerTest, BreaksAndErrorsGiveEventsLowAndErrorsHigh) {
    Open();
    const std::tuple<uint32_t LineCounters::*, uint8_t, uint32_t> cases[] = {
        {&LineCounters::breaks, 0, (kCeBreak << 16) | kEvBreak},
        {&LineCounters::frame, 0xFF, (kCeFrame << 16) | kEvErr},
        {&LineCounters::overrun, 0x42, (kCeOverrun << 16) | kEvErr},
    };
    for (const auto &[counter, byte, bits] : cases) {
        const size_t first = recorder.Count();
        backend.Condition(kDev, counter, byte);
        EXPECT_EQ(BitsSince(first, bits | kEvRxChar), bits | kEvRxChar);
        Read();
    }
    const Posted p = recorder.All()[0];
    EXPECT_EQ(p.message, kWmPortNotify);
    EXPECT_EQ(p.lparam, 7);
    EXPECT_EQ(p.wparam, (kCeBreak << 16) | kEvBreak | kEvRxChar);

    // A break while the host has not read yet comes with the read's re-arm.
    const size_t first = recorder.Count();
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(first + 1));
    backend.Condition(kDev, &LineCounters::breaks, 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(recorder.Count(), first + 1) << "unwatched until the host reads";
    Read();
    EXPECT_EQ(BitsSince(first + 1, (kCeBreak << 16) | kEvBreak), (kCeBreak << 16) | kEvBreak);
}

TEST_F(ListenerTest, StopWakeUpPostsNothingAndReachesEveryWindow) {
    Open();
    EXPECT_EQ(wnd.Close(), 0u);
    EXPECT_EQ(recorder.Count(), 0u) << "the stop's wake-up is not an event";
    // Stops that land while the listener posts or is between waits must still
    // end it; a missed one would hang Close.
    for (int i = 0; i < 300; ++i) {
        Open();
        backend.Receive(kDev, {1});
        if (i % 3 == 0) recorder.WaitFor(recorder.Count() + 1, 100ms);
        if (i % 3 == 1) std::this_thread::yield();
        ASSERT_EQ(wnd.Close(), 0u);
        backend.Change(kDev, [](Device &d) { d.rx.clear(); });
    }
    EXPECT_FALSE(wnd.IsListening());
}

TEST_F(PortTest, AppOpenResultsLineWordsAndReadClamp) {
    setenv("PORTLINK_COM5", kDev, 1);
    Recorder recorder;
    PortlinkWindow window = recorder.Window();
    CPortlinkApp app(backend);
    app.InitCom(&window);
    backend.FailNext(Op::Open, kErrGenFailure);
    EXPECT_EQ(app.OpenCom(5), 2) << "failed after the trial open";
    EXPECT_EQ(app.TableSize(), 0u) << "a failed open leaves no dead entry";
    ASSERT_EQ(app.OpenCom(5), 0);

    // setcom's line-control word, laid out as a 16550's line control register:
    // the word, then data bits, parity and stop bits.
    const std::tuple<int, int, int, int> words[] = {
        {3, 8, kNoParity, kOneStopBit}, {0x1F, 8, kEvenParity, kTwoStopBits},
        {0x0A, 7, kOddParity, 0},       {0x2D, 6, kMarkParity, 2},
        {0x3B, 8, kSpaceParity, 0},     {0x113, 8, kNoParity, 0}};
    for (const auto &[word, bits, parity, stop] : words) {
        ASSERT_EQ(app.SetCom(5, word, 4800), 0);
        const LineState s = backend.Snapshot(kDev).state;
        EXPECT_EQ(std::tuple(s.baudRate, s.byteSize, s.parity, s.parityEnabled, s.stopBits),
                  std::tuple(4800u, bits, parity, parity != kNoParity, stop))
            << word;
    }

    backend.Receive(kDev, std::vector<uint8_t>(15000, 0xAB));
    std::vector<uint8_t> big(20000, 0);
    int32_t count = 1 << 30;
    ASSERT_EQ(app.ReadCom(5, big.data(), &count), 0);
    EXPECT_EQ(count, kStagingSize);
    EXPECT_EQ(big[kStagingSize], 0) << "nothing past the staging size";
    EXPECT_EQ(app.CloseCom(5), 1);
    ASSERT_EQ(app.OpenCom(5), 0);
    EXPECT_EQ(app.TableSize(), 1u) << "reopen reuses the entry";
    unsetenv("PORTLINK_COM5");
}

}  // namespace
}  // namespace portlink::test
