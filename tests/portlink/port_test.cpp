// The port classes and the application object over the fake backend: result
// codes, failing OS calls, time-outs, and the listener's events and stops.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "com_event_port.h"
#include "fake_backend.h"
#include "helpers.h"
#include "port_path.h"
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
    uint8_t buffer[16] = {};
};

TEST_F(PortTest, ClosedOrAlreadyOpenObject) {
    CComPort port(backend);
    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(port.Configure(9600, 8, 0, 0), kErrInvalidHandle);
    EXPECT_EQ(port.SetEventMask(1), kErrInvalidHandle);
    EXPECT_EQ(port.WaitForEvents(kInfinite), kErrInvalidHandle);
    EXPECT_EQ(port.Write(buffer, 1, nullptr, kInfinite), kErrInvalidHandle);
    EXPECT_EQ(port.Read(buffer, 1, nullptr, kInfinite), kErrInvalidHandle);
    EXPECT_EQ(port.Purge(kPurgeRxClear), kErrInvalidHandle);
    EXPECT_EQ(port.FlowControl(), -1);
    EXPECT_EQ(port.EventMask(), 0u);
    EXPECT_EQ(port.LastError(), kErrInvalidHandle);

    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    EXPECT_EQ(port.EventMask(), kDefaultEventMask);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrAlreadyInitialized);
    uint32_t written = 0;
    EXPECT_EQ(port.Write(buffer, 3, &written, kInfinite), 0u) << "the first open still works";
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(backend.Snapshot(kDev).openCount, 0);
}

TEST_F(PortTest, EachFailingOsCallGivesItsCode) {
    const std::pair<Op, std::function<uint32_t(CComPort &)>> cases[] = {
        {Op::GetState, [](CComPort &p) { return p.Configure(9600, 8, 0, 0); }},
        {Op::SetState, [](CComPort &p) { return p.Configure(9600, 8, 0, 0); }},
        {Op::SetState, [](CComPort &p) { return p.SetFlowControl(1); }},
        {Op::SetModemLines, [](CComPort &p) { return p.SetFlowControl(0); }},
        {Op::SetState, [](CComPort &p) { return p.SetEventCharacter('\n', false); }},
        {Op::GetState, [](CComPort &p) { return p.DataBits() == -1 ? p.LastError() : 0; }},
        {Op::Write, [&](CComPort &p) { return p.Write(buffer, 4, nullptr, kInfinite); }},
        {Op::Read, [&](CComPort &p) { return p.Read(buffer, 4, nullptr, kInfinite); }},
        {Op::Purge, [](CComPort &p) { return p.Purge(kPurgeRxClear); }},
        {Op::Wait, [](CComPort &p) { return p.WaitForEvents(100); }},
    };
    for (const auto &[op, call] : cases) {
        SCOPED_TRACE(static_cast<int>(op));
        CComPort port(backend);
        ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
        backend.FailNext(op, kErrIoDevice);
        EXPECT_EQ(call(port), kErrIoDevice);
        EXPECT_EQ(port.LastError(), kErrIoDevice);
        EXPECT_EQ(port.BaudRate(), 9600) << "the port stays usable";
    }
    // A failed open holds nothing and can be retried.
    CComPort port(backend);
    for (Op op : {Op::Open, Op::Waker}) {
        backend.FailNext(op, kErrNotEnoughMemory);
        EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrNotEnoughMemory);
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(backend.Snapshot(kDev).openCount, 0);
    }
    EXPECT_EQ(port.Open("absent", 0, 0, true), kErrFileNotFound);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), 0u);
}

TEST_F(PortTest, LineSettingsFlowControlAndModes) {
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    ASSERT_EQ(port.Configure(19200, 7, kEvenParity, kTwoStopBits), 0u);
    EXPECT_EQ(port.BaudRate(), 19200);
    EXPECT_EQ(port.DataBits(), 7);
    EXPECT_EQ(port.Parity(), kEvenParity);
    EXPECT_EQ(port.StopBits(), kTwoStopBits);
    ASSERT_EQ(port.Configure(19200, 8, kNoParity, kOneStopBit), 0u);
    EXPECT_FALSE(backend.Snapshot(kDev).state.parityEnabled);
    backend.Change(kDev, [](Device &d) { d.state.parity = kOddParity; });
    EXPECT_EQ(port.Parity(), 0) << "parity off reads 0 whatever the field holds";

    ASSERT_EQ(port.SetFlowControl(kFlowHardware), 0u);
    EXPECT_EQ(port.FlowControl(), kFlowHardware);
    EXPECT_TRUE(backend.Snapshot(kDev).dtr);
    ASSERT_EQ(port.SetFlowControl(kFlowNone), 0u);
    EXPECT_EQ(port.FlowControl(), kFlowNone);
    EXPECT_FALSE(backend.Snapshot(kDev).dtr || backend.Snapshot(kDev).rts);
    const int sets = backend.Calls(Op::SetState);
    EXPECT_EQ(port.SetFlowControl(3), kErrInvalidArg);
    EXPECT_EQ(port.SetReadMode(2), kErrInvalidArg);
    EXPECT_EQ(backend.Calls(Op::SetState), sets) << "a bad kind or mode writes nothing";
    ASSERT_EQ(port.SetEventCharacter('\r', true), 0u);
    EXPECT_EQ(port.EventCharacter(), '\r');
    EXPECT_EQ(port.EventMask(), kDefaultEventMask | kEvRxFlag);
}

TEST_F(PortTest, BoundedWaitsTimeOutAndCancel) {
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port.WaitForEvents(50), kErrTimeout);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);

    // A transmitter that takes two bytes and then nothing more.
    backend.Change(kDev, [](Device &d) { d.txRoom = 2; });
    uint32_t count = 99;
    EXPECT_EQ(port.Write(buffer, 5, &count, 50), kErrTimeout);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(backend.Snapshot(kDev).outputPurges, 1) << "the unsent rest is cancelled";

    // A blocking read keeps what did arrive, and completes when the rest comes.
    ASSERT_EQ(port.SetReadMode(kReadBlocking), 0u);
    backend.Receive(kDev, {7, 8});
    EXPECT_EQ(port.Read(buffer, 5, &count, 50), kErrTimeout);
    EXPECT_EQ(count, 2u);
    std::thread late([&] {
        std::this_thread::sleep_for(20ms);
        backend.Receive(kDev, {1, 2, 3});
    });
    EXPECT_EQ(port.Read(buffer, 3, &count, 5000), 0u);
    late.join();
    EXPECT_EQ(count, 3u);

    // Without bounded waits only infinite ones are taken.
    CComPort plain(backend);
    backend.Change("fake1", [](Device &) {});
    ASSERT_EQ(plain.Open("fake1", 0, 0, false), 0u);
    const int writes = backend.Calls(Op::Write);
    EXPECT_EQ(plain.Write(buffer, 1, nullptr, 1000), kErrInvalidFunction);
    EXPECT_EQ(backend.Calls(Op::Write), writes);
}

// A CComWndPort over the fake, posting to a Recorder.
class ListenerTest : public PortTest {
protected:
    void Open(uint32_t message = kWmPortNotify) {
        const PortlinkWindow window = recorder.Window();
        ASSERT_EQ(port.Open(kDev, &window, message, 7, 0, 0), 0u);
    }
    // The bits of all messages from index first on, once they include expected:
    // a condition that lands as a read re-arms the listener may come as two
    // messages (the condition, then the data).
    uint32_t BitsSince(size_t first, uint32_t expected) {
        uint32_t bits = 0;
        for (int i = 0; i < 50 && bits != expected; ++i) {
            recorder.WaitFor(first + 1, 100ms);
            for (const std::vector<Posted> all = recorder.All(); first < all.size(); ++first) {
                bits |= all[first].wparam;
            }
        }
        return bits;
    }
    Recorder recorder;
    CComWndPort port{backend};
};

TEST_F(ListenerTest, BreaksAndErrorsGiveEventsLowAndErrorsHigh) {
    Open();
    backend.Condition(kDev, &LineCounters::breaks, 0);
    ASSERT_TRUE(recorder.WaitFor(1));
    const Posted p = recorder.All()[0];
    EXPECT_EQ(p.message, kWmPortNotify);
    EXPECT_EQ(p.lparam, 7);
    EXPECT_EQ(p.wparam, (kCeBreak << 16) | kEvBreak | kEvRxChar);

    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    size_t first = recorder.Count();
    backend.Condition(kDev, &LineCounters::frame, 0xFF);
    const uint32_t frame = (kCeFrame << 16) | kEvErr | kEvRxChar;
    EXPECT_EQ(BitsSince(first, frame), frame);

    // With only EV_BREAK and EV_ERR in the mask, data alone posts nothing.
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    ASSERT_EQ(port.SetEventMask(kEvBreak | kEvErr), 0u);
    std::this_thread::sleep_for(20ms);
    first = recorder.Count();
    backend.Receive(kDev, {0x41});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Count(), first);
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    backend.Condition(kDev, &LineCounters::overrun, 0x42);
    EXPECT_EQ(BitsSince(first, (kCeOverrun << 16) | kEvErr), (kCeOverrun << 16) | kEvErr);

    // A break while the host has not read yet comes with the read's re-arm.
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    ASSERT_EQ(port.SetEventMask(kDefaultEventMask), 0u);
    first = recorder.Count();
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(first + 1));
    backend.Condition(kDev, &LineCounters::breaks, 0);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(recorder.Count(), first + 1) << "unwatched until the host reads";
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    EXPECT_EQ(BitsSince(first + 1, (kCeBreak << 16) | kEvBreak), (kCeBreak << 16) | kEvBreak);
}

TEST_F(ListenerTest, UnreadDataIsReportedOnceWithoutSpinning) {
    Open();
    backend.Receive(kDev, {1, 2, 3});
    ASSERT_TRUE(recorder.WaitFor(1));
    const int waits = backend.Calls(Op::Wait);
    backend.Receive(kDev, {4});
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.Count(), 1u);
    EXPECT_LE(backend.Calls(Op::Wait), waits + 1);
    uint32_t got = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &got, kInfinite), 0u);
    EXPECT_EQ(got, 4u);
    backend.Receive(kDev, {5});
    ASSERT_TRUE(recorder.WaitFor(2)) << "once read, new data is reported again";
}

TEST_F(ListenerTest, StopWakeUpPostsNothingAndReachesEveryWindow) {
    Open();
    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(recorder.Count(), 0u) << "the stop's wake-up is not an event";
    // Stops that land while the listener posts or is between waits must still
    // end it; a missed one would hang Close.
    for (int i = 0; i < 300; ++i) {
        Open();
        backend.Receive(kDev, {1});
        if (i % 3 == 0) recorder.WaitFor(recorder.Count() + 1, 100ms);
        if (i % 3 == 1) std::this_thread::yield();
        ASSERT_EQ(port.Close(), 0u);
        backend.Change(kDev, [](Device &d) { d.rx.clear(); });
    }
    EXPECT_FALSE(port.IsListening());
}

TEST_F(ListenerTest, HangUpEndsTheListenerAndThePortReopens) {
    Open();
    backend.Change(kDev, [](Device &d) { d.hungUp = true; });
    for (int i = 0; i < 500 && !port.ListenerEnded(); ++i) std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(port.ListenerEnded());
    EXPECT_EQ(port.ListenResult(), kErrHangUp);
    const int waits = backend.Calls(Op::Wait);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(backend.Calls(Op::Wait), waits) << "an ended listener does not wait again";
    EXPECT_EQ(recorder.Count(), 0u);
    EXPECT_EQ(port.Read(buffer, 4, nullptr, kInfinite), kErrHangUp);
    EXPECT_EQ(port.Close(), 0u);
    backend.Change(kDev, [](Device &d) { d.hungUp = false; });
    Open();
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(1));
}

TEST_F(ListenerTest, MessageZeroPostsTheRegisteredMessage) {
    Open(0);
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.All()[0].message, g_defaultNotifyMsg);
    EXPECT_GE(g_defaultNotifyMsg, 0xC000u);
}

TEST_F(PortTest, AppOpenResultsLineWordsAndReadClamp) {
    setenv("PORTLINK_COM5", kDev, 1);
    setenv("PORTLINK_COM6", "absent", 1);
    Recorder recorder;
    PortlinkWindow window = recorder.Window();
    CPortlinkApp app(backend);
    app.InitCom(&window);
    EXPECT_EQ(app.OpenCom(6), 1);
    EXPECT_EQ(app.TableSize(), 0u) << "a failed open leaves no dead entry";
    backend.Change(kDev, [](Device &d) { d.heldElsewhere = true; });
    EXPECT_EQ(app.OpenCom(5), 1);
    backend.Change(kDev, [](Device &d) { d.heldElsewhere = false; });
    backend.FailNext(Op::Open, kErrGenFailure);
    EXPECT_EQ(app.OpenCom(5), 2) << "failed after the trial open";
    EXPECT_EQ(app.TableSize(), 0u);
    ASSERT_EQ(app.OpenCom(5), 0);
    EXPECT_EQ(app.OpenCom(5), 1) << "already open here";

    // setcom's line-control word, laid out as a 16550's line control register.
    struct Word {
        int32_t word;
        uint8_t bits, parity, stop;
    };
    for (const Word w : {Word{3, 8, kNoParity, kOneStopBit}, Word{0x1F, 8, kEvenParity, 2},
                         Word{0x0A, 7, kOddParity, 0}, Word{0x2D, 6, kMarkParity, 2},
                         Word{0x3B, 8, kSpaceParity, 0}, Word{0x113, 8, kNoParity, 0}}) {
        SCOPED_TRACE(w.word);
        ASSERT_EQ(app.SetCom(5, w.word, 4800), 0);
        const LineState s = backend.Snapshot(kDev).state;
        EXPECT_EQ(s.baudRate, 4800u);
        EXPECT_EQ(s.byteSize, w.bits);
        EXPECT_EQ(s.parity, w.parity);
        EXPECT_EQ(s.parityEnabled, w.parity != kNoParity);
        EXPECT_EQ(s.stopBits, w.stop);
    }
    backend.FailNext(Op::SetState, kErrInvalidParameter);
    EXPECT_EQ(app.SetCom(5, 3, 9600), 1) << "refused";
    backend.FailNext(Op::SetState, kErrIoDevice);
    EXPECT_EQ(app.SetMdm(5, 0), 999);
    backend.FailNext(Op::Purge, kErrIoDevice);
    EXPECT_EQ(app.ClearBfr(5, 3), 999);
    backend.FailNext(Op::Write, kErrIoDevice);
    EXPECT_EQ(app.WriteCom(5, buffer, 1), 999);

    backend.Receive(kDev, std::vector<uint8_t>(15000, 0xAB));
    std::vector<uint8_t> big(20000, 0);
    int32_t count = 1 << 30;
    ASSERT_EQ(app.ReadCom(5, big.data(), &count), 0);
    EXPECT_EQ(count, kStagingSize);
    EXPECT_EQ(big[kStagingSize], 0) << "nothing past the staging size";
    count = 0;
    ASSERT_EQ(app.ReadCom(5, big.data(), &count), 0);
    EXPECT_EQ(count, 5000);
    EXPECT_EQ(app.CloseCom(5), 1);
    ASSERT_EQ(app.OpenCom(5), 0);
    EXPECT_EQ(app.TableSize(), 1u) << "reopen reuses the entry";
    unsetenv("PORTLINK_COM5");
    unsetenv("PORTLINK_COM6");
}

TEST(PortPath, EnvironmentFirstThenTheDefaultTable) {
    unsetenv("PORTLINK_COM12");
    EXPECT_EQ(PortPath(1), "/dev/ttyS0");
    EXPECT_EQ(PortPath(10), "/dev/ttyS9");
    EXPECT_EQ(PortPath(12), "/dev/ttyUSB1");
    EXPECT_EQ(PortPath(21), "/dev/ttyACM0");
    EXPECT_EQ(PortPath(30), "/dev/ttyACM9");
    EXPECT_EQ(PortPath(31), "/dev/ttyS30");
    setenv("PORTLINK_COM12", "/dev/pts/9", 1);
    EXPECT_EQ(PortPath(12), "/dev/pts/9") << "looked up on every call";
    unsetenv("PORTLINK_COM12");
    EXPECT_EQ(PortPath(12), "/dev/ttyUSB1");
}

}  // namespace
}  // namespace portlink::test
