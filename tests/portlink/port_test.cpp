// The port classes and the application object over the fake backend: result
// codes, failing OS calls, the listener's events, and the exports' limits.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <tuple>

#include "com_event_port.h"
#include "fake_backend.h"
#include "port_path.h"
#include "portlink_app.h"
#include "recorder.h"

namespace portlink::test {
namespace {

using namespace std::chrono_literals;
using Op = FakeBackend::Op;
using Device = FakeBackend::Device;

class PortTest : public ::testing::Test {
protected:
    FakeBackend backend;
    CComPort port{backend};
    Recorder recorder;
    HostWindow window = recorder.Handle();
    uint8_t buffer[16] = {};
};

TEST_F(PortTest, EachFailingOsCallGivesItsCode) {
    EXPECT_EQ(port.Write(buffer, 1, nullptr, kInfinite), kErrInvalidHandle) << "not open";
    const std::pair<Op, std::function<uint32_t()>> cases[] = {
        {Op::GetState, [&] { return port.Configure(9600, 8, 0, 0); }},
        {Op::SetState, [&] { return port.Configure(9600, 8, 0, 0); }},
        {Op::Modem, [&] { return port.SetFlowControl(0); }},
        {Op::Write, [&] { return port.Write(buffer, 4, nullptr, kInfinite); }},
        {Op::Read, [&] { return port.Read(buffer, 4, nullptr, kInfinite); }},
        {Op::Purge, [&] { return port.Purge(kPurgeRxClear); }},
        {Op::Wait, [&] { return port.WaitForEvents(100); }},
    };
    ASSERT_EQ(port.Open(kFakeDevice, 0, 0, true), 0u);
    EXPECT_EQ(port.Read(nullptr, 4, nullptr, kInfinite), kErrInvalidParameter) << "no buffer";
    for (const auto &[op, call] : cases) {
        backend.FailNext(op, kErrIoDevice);
        EXPECT_EQ(call(), kErrIoDevice) << int(op);
        EXPECT_EQ(port.LastError(), kErrIoDevice);
        EXPECT_EQ(port.BaudRate(), 9600) << "the port stays usable";
    }
    EXPECT_EQ(port.Open(kFakeDevice, 0, 0, true), kErrAlreadyInitialized);
    // A failed open, also one that fails after the device was opened, holds
    // nothing and can be retried.
    port.Close();
    for (Op op : {Op::Open, Op::Waker}) {
        backend.FailNext(op, kErrNotEnoughMemory);
        EXPECT_EQ(port.Open(kFakeDevice, 0, 0, true), kErrNotEnoughMemory);
        EXPECT_EQ(backend.Probe(kFakeDevice), kOk) << "the device is free";
    }
}

TEST_F(PortTest, BreaksAndErrorsGiveEventsLowAndErrorsHigh) {
    CComWndPort wnd{backend};
    ASSERT_EQ(wnd.Open(kFakeDevice, window, kWmPortNotify, 7, 0, 0), 0u);
    backend.Condition(&LineCounters::breaks, 0);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(recorder.All()[0], Posted(kWmPortNotify, (kCeBreak << 16) | kEvBreak | kEvRxChar, 7));
    // While the host has not read yet, a condition waits for the read's re-arm.
    const std::pair<uint32_t LineCounters::*, uint32_t> cases[] = {
        {&LineCounters::frame, (kCeFrame << 16) | kEvErr},
        {&LineCounters::overrun, (kCeOverrun << 16) | kEvErr}};
    for (const auto &[counter, bits] : cases) {
        const size_t first = recorder.Count();
        backend.Condition(counter, 0xFF);
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(recorder.Count(), first) << "unwatched until the host reads";
        wnd.Read(buffer, sizeof buffer, nullptr, kInfinite);
        ASSERT_TRUE(recorder.WaitFor(first + 1));
        EXPECT_EQ(std::get<1>(recorder.All()[first]), bits);
        backend.Receive({1});  // reported, and left unread for the next case
        ASSERT_TRUE(recorder.WaitFor(first + 2));
    }
    EXPECT_EQ(wnd.Close(), 0u);
    EXPECT_EQ(recorder.Count(), 5u) << "the stop's wake-up is not an event";
}

TEST_F(PortTest, AppOpenResultsTableReadClampAndHeldWrite) {
    backend.MoveTo(PortPath(5));
    CPortlinkApp app(backend);
    app.InitCom(window);
    backend.FailNext(Op::Open, kErrGenFailure);
    EXPECT_EQ(app.OpenCom(5), 2) << "failed after the trial open";
    EXPECT_EQ(app.TableSize(), 0u) << "a failed open leaves no dead entry";
    ASSERT_EQ(app.OpenCom(5), 0);

    // The line-control word as a 16550's register: data bits, stop bits, parity.
    const std::tuple<int32_t, uint8_t, uint8_t, uint8_t, bool> lines[] = {{0x1F, 8, 2, 2, true},
                                                                          {0x0A, 7, 0, 1, true},
                                                                          {0x3D, 6, 2, 4, true},
                                                                          {0x123, 8, 0, 0, false}};
    for (const auto &[word, bits, stop, parity, parityOn] : lines) {
        ASSERT_EQ(app.SetCom(5, word, 9600), 0) << word;
        backend.Change([&](Device &d) {
            EXPECT_EQ(
                std::tie(d.state.byteSize, d.state.stopBits, d.state.parity, d.state.parityEnabled),
                std::tie(bits, stop, parity, parityOn))
                << word;
        });
    }

    backend.Receive(std::vector<uint8_t>(15000, 0xAB));
    std::vector<uint8_t> big(20000, 0);
    int32_t count = 1 << 30;
    ASSERT_EQ(app.ReadCom(5, big.data(), &count), 0);
    EXPECT_EQ(count, kStagingSize);
    EXPECT_EQ(big[kStagingSize], 0) << "nothing past the staging size";

    // The device holds its flow control and takes nothing: the write gives up
    // after the bytes' time on the line and discards them.
    backend.Change([](Device &d) { d.txRoom = 0; });
    EXPECT_EQ(app.WriteCom(5, buffer, sizeof buffer), 999);
    backend.Change([](Device &d) { EXPECT_EQ(d.txRoom, SIZE_MAX) << "discarded"; });
    EXPECT_EQ(app.WriteCom(5, buffer, sizeof buffer), 0);
    EXPECT_EQ(app.CloseCom(5), 1);
    ASSERT_EQ(app.OpenCom(5), 0);
    EXPECT_EQ(app.TableSize(), 1u) << "reopen reuses the entry";
}

}  // namespace
}  // namespace portlink::test
