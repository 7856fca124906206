// The port classes over the fake backend: result codes, failing OS calls,
// time-outs, and the listener's events, errors and stops.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "codes.h"
#include "com_event_port.h"
#include "errors.h"
#include "fake_backend.h"
#include "port_path.h"
#include "portlink_app.h"
#include "recorder.h"

namespace portlink::test {
namespace {

using namespace std::chrono_literals;
using Op = FakeBackend::Op;

constexpr const char *kDev = "fake0";

class PortTest : public ::testing::Test {
protected:
    void SetUp() override { backend.AddDevice(kDev); }
    FakeBackend backend;
};

TEST_F(PortTest, ClosedObjectAnswersInvalidHandle) {
    CComPort port(backend);
    uint8_t byte = 0;
    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(port.Configure(9600, 8, 0, 0), kErrInvalidHandle);
    EXPECT_EQ(port.SetEventMask(1), kErrInvalidHandle);
    EXPECT_EQ(port.SetFlowControl(0), kErrInvalidHandle);
    EXPECT_EQ(port.SetReadMode(0), kErrInvalidHandle);
    EXPECT_EQ(port.WaitForEvents(kInfinite), kErrInvalidHandle);
    EXPECT_EQ(port.Write(&byte, 1, nullptr, kInfinite), kErrInvalidHandle);
    EXPECT_EQ(port.Read(&byte, 1, nullptr, kInfinite), kErrInvalidHandle);
    EXPECT_EQ(port.Purge(kPurgeRxClear), kErrInvalidHandle);
    EXPECT_EQ(port.BaudRate(), -1);
    EXPECT_EQ(port.FlowControl(), -1);
    EXPECT_EQ(port.LastError(), kErrInvalidHandle);
    EXPECT_EQ(port.EventMask(), 0u);
    EXPECT_EQ(port.EventCharacter(), 0);
    EXPECT_EQ(port.LastError(), kErrInvalidHandle);
}

TEST_F(PortTest, SecondOpenAnswersAlreadyInitializedAndKeepsTheDevice) {
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    EXPECT_EQ(port.EventMask(), kDefaultEventMask);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrAlreadyInitialized);
    const uint8_t data[] = {1, 2, 3};
    uint32_t written = 0;
    EXPECT_EQ(port.Write(data, 3, &written, kInfinite), 0u);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(backend.Snapshot(kDev).openCount, 1);
    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(backend.Snapshot(kDev).openCount, 0);
}

TEST_F(PortTest, FailingOsCallsGiveTheirCode) {
    struct Case {
        const char *name;
        Op op;
        std::function<uint32_t(CComPort &)> call;
    };
    uint8_t buffer[4] = {};
    const Case cases[] = {
        {"Configure/get", Op::GetState, [](CComPort &p) { return p.Configure(9600, 8, 0, 0); }},
        {"Configure/set", Op::SetState, [](CComPort &p) { return p.Configure(9600, 8, 0, 0); }},
        {"SetFlowControl/set", Op::SetState, [](CComPort &p) { return p.SetFlowControl(1); }},
        {"SetFlowControl/lines", Op::SetModemLines,
         [](CComPort &p) { return p.SetFlowControl(0); }},
        {"SetEventCharacter", Op::SetState,
         [](CComPort &p) { return p.SetEventCharacter('\n', false); }},
        {"Write", Op::Write, [&](CComPort &p) { return p.Write(buffer, 4, nullptr, kInfinite); }},
        {"Read", Op::Read, [&](CComPort &p) { return p.Read(buffer, 4, nullptr, kInfinite); }},
        {"Purge", Op::Purge, [](CComPort &p) { return p.Purge(kPurgeRxClear); }},
        {"WaitForEvents", Op::Wait, [](CComPort &p) { return p.WaitForEvents(100); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        CComPort port(backend);
        ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
        backend.FailNext(c.op, kErrIoDevice);
        EXPECT_EQ(c.call(port), kErrIoDevice);
        EXPECT_EQ(port.LastError(), kErrIoDevice);
        EXPECT_EQ(port.BaudRate(), 9600) << "the port stays usable";
    }
    // A getter that cannot read the state answers -1 with the code kept.
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    backend.FailNext(Op::GetState, kErrGenFailure);
    EXPECT_EQ(port.DataBits(), -1);
    EXPECT_EQ(port.LastError(), kErrGenFailure);
}

TEST_F(PortTest, FailedOpenLeavesTheObjectClosedAndTheDeviceFree) {
    CComPort port(backend);
    backend.FailNext(Op::Open, kErrAccessDenied);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrAccessDenied);
    EXPECT_FALSE(port.IsOpen());
    backend.FailNext(Op::CreateWaker, kErrNotEnoughMemory);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), kErrNotEnoughMemory);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(backend.Snapshot(kDev).openCount, 0);
    EXPECT_EQ(port.Open("absent", 0, 0, true), kErrFileNotFound);
    EXPECT_EQ(port.Open(kDev, 0, 0, true), 0u);
}

TEST_F(PortTest, LineSettingsFlowControlAndReadMode) {
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    ASSERT_EQ(port.Configure(19200, 7, kEvenParity, kTwoStopBits), 0u);
    EXPECT_EQ(port.BaudRate(), 19200);
    EXPECT_EQ(port.DataBits(), 7);
    EXPECT_EQ(port.Parity(), kEvenParity);
    EXPECT_EQ(port.StopBits(), kTwoStopBits);
    EXPECT_TRUE(backend.Snapshot(kDev).state.parityEnabled);
    ASSERT_EQ(port.Configure(19200, 8, kNoParity, kOneStopBit), 0u);
    EXPECT_FALSE(backend.Snapshot(kDev).state.parityEnabled);
    // Parity reads 0 whenever parity is off, whatever the field holds.
    backend.Update(kDev, [](FakeBackend::Device &d) {
        d.state.parity = kOddParity;
        d.state.parityEnabled = false;
    });
    EXPECT_EQ(port.Parity(), 0);

    ASSERT_EQ(port.SetFlowControl(kFlowHardware), 0u);
    EXPECT_EQ(port.FlowControl(), kFlowHardware);
    EXPECT_TRUE(backend.Snapshot(kDev).dtr);
    ASSERT_EQ(port.SetFlowControl(kFlowNone), 0u);
    EXPECT_EQ(port.FlowControl(), kFlowNone);
    EXPECT_FALSE(backend.Snapshot(kDev).dtr);
    EXPECT_FALSE(backend.Snapshot(kDev).rts);
    const int sets = backend.Calls(Op::SetState);
    EXPECT_EQ(port.SetFlowControl(3), kErrInvalidArg);
    EXPECT_EQ(backend.Calls(Op::SetState), sets) << "a bad kind writes nothing";
    EXPECT_EQ(port.SetReadMode(2), kErrInvalidArg);

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
    backend.Update(kDev, [](FakeBackend::Device &d) { d.txRoom = 2; });
    const uint8_t data[] = {1, 2, 3, 4, 5};
    uint32_t written = 99;
    EXPECT_EQ(port.Write(data, 5, &written, 50), kErrTimeout);
    EXPECT_EQ(port.LastError(), kErrTimeout);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(backend.Snapshot(kDev).outputPurges, 1) << "the unsent rest is cancelled";

    // A blocking read keeps what did arrive.
    ASSERT_EQ(port.SetReadMode(kReadBlocking), 0u);
    backend.Receive(kDev, {7, 8});
    uint8_t buffer[5] = {};
    uint32_t got = 0;
    EXPECT_EQ(port.Read(buffer, 5, &got, 50), kErrTimeout);
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(buffer[1], 8);
    // ...and completes when the rest comes in time.
    std::thread late([&] {
        std::this_thread::sleep_for(20ms);
        backend.Receive(kDev, {1, 2, 3});
    });
    EXPECT_EQ(port.Read(buffer, 3, &got, 5000), 0u);
    late.join();
    EXPECT_EQ(got, 3u);
}

TEST_F(PortTest, DeviceWithoutBoundedWaitsRefusesThem) {
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, false), 0u);
    const uint8_t byte = 1;
    EXPECT_EQ(port.Write(&byte, 1, nullptr, 1000), kErrInvalidFunction);
    EXPECT_EQ(backend.Calls(Op::Write), 0);
    EXPECT_EQ(port.Write(&byte, 1, nullptr, kInfinite), 0u);
}

TEST_F(PortTest, TakeEventsAnswersMaskedBitsOnce) {
    CComPort port(backend);
    ASSERT_EQ(port.Open(kDev, 0, 0, true), 0u);
    backend.Break(kDev);
    ASSERT_EQ(port.WaitForEvents(1000), 0u);
    EXPECT_EQ(port.TakeEvents(), kEvRxChar | kEvBreak);
    EXPECT_EQ(port.TakeEvents(), 0u);
    EXPECT_EQ(port.ClearErrors(), kCeBreak);
    EXPECT_EQ(port.ClearErrors(), 0u);
}

// A CComWndPort over the fake, posting to a Recorder.
class ListenerTest : public PortTest {
protected:
    void Open(uint32_t message = kWmPortNotify) {
        const PortlinkWindow window = recorder.Window();
        ASSERT_EQ(port.Open(kDev, &window, message, 7, 0, 0), 0u);
    }
    Recorder recorder;
    CComWndPort port{backend};
};

TEST_F(ListenerTest, BreaksAndErrorsGiveEventsLowAndErrorsHigh) {
    Open();
    backend.Break(kDev);
    ASSERT_TRUE(recorder.WaitFor(1));
    Posted p = recorder.All()[0];
    EXPECT_EQ(p.message, kWmPortNotify);
    EXPECT_EQ(p.lparam, 7);
    EXPECT_EQ(p.wparam, (kCeBreak << 16) | kEvBreak | kEvRxChar);

    // A condition that lands as the host's read re-arms the listener may come
    // in two messages (the error, then the data): look at all of them.
    auto bitsSince = [&](size_t first, uint32_t expected) {
        uint32_t bits = 0;
        size_t seen = first;
        for (int i = 0; i < 50 && bits != expected; ++i) {
            recorder.WaitFor(seen + 1, 100ms);
            const std::vector<Posted> all = recorder.All();
            for (; seen < all.size(); ++seen) bits |= all[seen].wparam;
        }
        return bits;
    };
    uint8_t buffer[8];
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    size_t first = recorder.Count();
    backend.FrameError(kDev, 0xFF);
    EXPECT_EQ(bitsSince(first, (kCeFrame << 16) | kEvErr | kEvRxChar),
              (kCeFrame << 16) | kEvErr | kEvRxChar);

    // With only EV_BREAK and EV_ERR in the mask, data alone posts nothing.
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    ASSERT_EQ(port.SetEventMask(kEvBreak | kEvErr), 0u);
    std::this_thread::sleep_for(20ms);
    first = recorder.Count();
    backend.Receive(kDev, {0x41});
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(recorder.Count(), first);
    port.Read(buffer, sizeof buffer, nullptr, kInfinite);
    backend.Overrun(kDev, 0x42);
    EXPECT_EQ(bitsSince(first, (kCeOverrun << 16) | kEvErr), (kCeOverrun << 16) | kEvErr);
}

TEST_F(ListenerTest, BreakWhileWaitingForTheHostsReadComesWithTheReArm) {
    Open();
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(1));
    backend.Break(kDev);  // unwatched: the host has not read yet
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(recorder.Count(), 1u);
    uint8_t buffer[8];
    uint32_t got = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &got, kInfinite), 0u);
    EXPECT_EQ(got, 2u) << "the data and the break's NUL";
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(recorder.All()[1].wparam, (kCeBreak << 16) | kEvBreak);
}

TEST_F(ListenerTest, DriverWithoutCountersReportsDataOnly) {
    backend.Update(kDev, [](FakeBackend::Device &d) { d.hasCounters = false; });
    Open();
    backend.Break(kDev);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.All()[0].wparam, kEvRxChar);
}

TEST_F(ListenerTest, StopWakeUpPostsNothingAndReachesEveryWindow) {
    // A quiet open and close: the stop's wake-up is not an event.
    Open();
    EXPECT_EQ(port.Close(), 0u);
    EXPECT_EQ(recorder.Count(), 0u);
    // Stops that land while the listener is busy posting or between waits must
    // still end it; a missed stop would hang Close.
    for (int i = 0; i < 300; ++i) {
        Open();
        backend.Receive(kDev, {1});
        if (i % 3 == 0) recorder.WaitFor(recorder.Count() + 1, 100ms);
        if (i % 3 == 1) std::this_thread::yield();
        ASSERT_EQ(port.Close(), 0u);
        backend.Update(kDev, [](FakeBackend::Device &d) { d.rx.clear(); });
    }
    EXPECT_FALSE(port.IsListening());
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
    // Once read, new data is reported again.
    uint8_t buffer[8];
    uint32_t got = 0;
    ASSERT_EQ(port.Read(buffer, sizeof buffer, &got, kInfinite), 0u);
    EXPECT_EQ(got, 4u);
    backend.Receive(kDev, {5});
    ASSERT_TRUE(recorder.WaitFor(2));
}

TEST_F(ListenerTest, HangUpEndsTheListenerAndThePortReopens) {
    Open();
    backend.HangUp(kDev);
    for (int i = 0; i < 500 && !port.ListenerEnded(); ++i) std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(port.ListenerEnded());
    EXPECT_EQ(port.ListenResult(), kErrHangUp);
    const int waits = backend.Calls(Op::Wait);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(backend.Calls(Op::Wait), waits) << "an ended listener does not wait again";
    EXPECT_EQ(recorder.Count(), 0u);
    uint8_t buffer[4];
    EXPECT_EQ(port.Read(buffer, 4, nullptr, kInfinite), kErrHangUp);
    EXPECT_EQ(port.Close(), 0u);
    backend.Update(kDev, [](FakeBackend::Device &d) { d.hungUp = false; });
    Open();
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.All()[0].lparam, 7);
}

TEST_F(ListenerTest, MessageZeroPostsTheRegisteredMessage) {
    Open(0);
    backend.Receive(kDev, {1});
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.All()[0].message, g_defaultNotifyMsg);
    EXPECT_GE(g_defaultNotifyMsg, 0xC000u);
}

TEST_F(ListenerTest, FailedOpenHoldsNothingAndRecordsNoNumber) {
    backend.FailNext(Op::CreateWaker, kErrNotEnoughMemory);
    const PortlinkWindow window = recorder.Window();
    EXPECT_EQ(port.Open(kDev, &window, kWmPortNotify, 7, 0, 0), kErrNotEnoughMemory);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_FALSE(port.IsListening());
    EXPECT_EQ(port.NotifyParam(), 0);
    EXPECT_EQ(backend.Snapshot(kDev).openCount, 0);
}

// The application object over the fake: probe outcomes and the staging clamp.
TEST_F(PortTest, AppOpenResultsAndReadClamp) {
    setenv("PORTLINK_COM5", kDev, 1);
    setenv("PORTLINK_COM6", "absent", 1);
    Recorder recorder;
    PortlinkWindow window = recorder.Window();
    CPortlinkApp app(backend);
    app.InitCom(&window);
    EXPECT_EQ(app.OpenCom(6), 1);
    EXPECT_EQ(app.TableSize(), 0u) << "a failed open leaves no dead entry";
    backend.Update(kDev, [](FakeBackend::Device &d) { d.heldElsewhere = true; });
    EXPECT_EQ(app.OpenCom(5), 1);
    backend.Update(kDev, [](FakeBackend::Device &d) { d.heldElsewhere = false; });
    backend.FailNext(Op::Open, kErrGenFailure);
    EXPECT_EQ(app.OpenCom(5), 2);
    EXPECT_EQ(app.TableSize(), 0u);
    ASSERT_EQ(app.OpenCom(5), 0);
    EXPECT_EQ(app.OpenCom(5), 1) << "already open here";
    EXPECT_EQ(app.CheckBfr(5, 0, 0), 1);

    backend.Receive(kDev, std::vector<uint8_t>(15000, 0xAB));
    std::vector<uint8_t> big(20000, 0);
    int32_t count = 1 << 30;
    ASSERT_EQ(app.ReadCom(5, big.data(), &count), 0);
    EXPECT_EQ(count, kStagingSize);
    EXPECT_EQ(big[kStagingSize], 0) << "nothing past the staging size";
    count = 0;
    ASSERT_EQ(app.ReadCom(5, big.data(), &count), 0);
    EXPECT_EQ(count, 5000);

    // setcom's line-control word, as a 16550's line control register.
    struct Word {
        int32_t word;
        uint8_t bits, parity, stop;
    };
    for (const Word w :
         {Word{3, 8, kNoParity, kOneStopBit}, Word{0x1F, 8, kEvenParity, kTwoStopBits},
          Word{0x0A, 7, kOddParity, kOneStopBit}, Word{0x2D, 6, kMarkParity, kTwoStopBits},
          Word{0x3B, 8, kSpaceParity, kOneStopBit}, Word{0x13, 8, kNoParity, kOneStopBit},
          Word{0x103, 8, kNoParity, kOneStopBit}}) {
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
    const uint8_t byte = 1;
    EXPECT_EQ(app.WriteCom(5, &byte, 1), 999);

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
    EXPECT_EQ(PortPath(11), "/dev/ttyUSB0");
    EXPECT_EQ(PortPath(12), "/dev/ttyUSB1");
    EXPECT_EQ(PortPath(21), "/dev/ttyACM0");
    EXPECT_EQ(PortPath(30), "/dev/ttyACM9");
    EXPECT_EQ(PortPath(31), "/dev/ttyS30");
    // Looked up on every call, so a port can move between opens.
    setenv("PORTLINK_COM12", "/dev/pts/9", 1);
    EXPECT_EQ(PortPath(12), "/dev/pts/9");
    setenv("PORTLINK_COM12", "/dev/serial/by-id/x", 1);
    EXPECT_EQ(PortPath(12), "/dev/serial/by-id/x");
    unsetenv("PORTLINK_COM12");
    EXPECT_EQ(PortPath(12), "/dev/ttyUSB1");
}

TEST(ErrnoCodes, MapOntoTheWin32Numbers) {
    EXPECT_EQ(CodeFromErrno(0), 0u);
    EXPECT_EQ(CodeFromErrno(ENOENT), kErrFileNotFound);
    EXPECT_EQ(CodeFromErrno(EBUSY), kErrAccessDenied);
    EXPECT_EQ(CodeFromErrno(EACCES), kErrAccessDenied);
    EXPECT_EQ(CodeFromErrno(EBADF), kErrInvalidHandle);
    EXPECT_EQ(CodeFromErrno(EINVAL), kErrInvalidParameter);
    EXPECT_EQ(CodeFromErrno(EIO), kErrIoDevice);
    EXPECT_EQ(CodeFromErrno(ENXIO), kErrDeviceNotConnected);
    EXPECT_EQ(CodeFromErrno(ENOTTY), kErrInvalidFunction);
    EXPECT_EQ(CodeFromErrno(EMFILE), kErrTooManyOpenFiles);
    EXPECT_EQ(CodeFromErrno(12345), kErrGenFailure);
}

}  // namespace
}  // namespace portlink::test
