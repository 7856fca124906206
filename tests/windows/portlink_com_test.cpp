// portlink.dll's exports over a COM port under Wine that with_loopsim.sh maps
// to the native simulated device. Wine does not refuse a second open of a COM
// port, so the exclusive open is a Linux test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "frames.h"
#include "portlink.h"
#include "recorder.h"

namespace portlink::test {
namespace {

class ComPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_GT(com, 0) << "run through with_loopsim.sh";
        ASSERT_EQ(initcom(recorder.Handle()), 1);
    }
    void TearDown() override { destroycom(), initcom(nullptr); }

    // Sends a request and gathers the answer as the device link does: a read
    // on every message until the frame's length is in.
    std::vector<uint8_t> Exchange(const uint8_t *request, size_t size) {
        std::vector<uint8_t> answer;
        const size_t before = recorder.Count();
        EXPECT_EQ(writecom(com, request, int32_t(size)), 0);
        for (size_t seen = before; answer.size() < kMinFrameSize ||
                                   answer.size() < ReadBe16(answer.data(), kOffsetLength);) {
            if (!recorder.WaitFor(++seen)) return answer;
            uint8_t buffer[10000];
            int32_t count = 0;
            EXPECT_EQ(readcom(com, buffer, &count), 0);
            answer.insert(answer.end(), buffer, buffer + count);
        }
        return answer;
    }
    static void ExpectFrame(const std::vector<uint8_t> &frame, uint8_t command, size_t size) {
        ASSERT_EQ(frame.size(), size);
        EXPECT_EQ(frame[kOffsetCommand], command);
        EXPECT_EQ(XorChecksum(frame.data(), size - 2), frame[size - 2]);
        EXPECT_EQ(frame[kOffsetStatus], STATUS_OK);
    }

    const int32_t com = std::getenv("LOOPSET_COM") ? std::atoi(std::getenv("LOOPSET_COM")) : 0;
    Recorder recorder;
};

TEST_F(ComPort, OpenSetUpExchangeNotifyCloseAndReopen) {
    EXPECT_EQ(opencom(99), 1) << "no such device";
    EXPECT_EQ(checkbfr(99, 0, 0), 2) << "a failed open adds nothing";
    ASSERT_EQ(opencom(com), 0);
    EXPECT_EQ(opencom(com), 1) << "already open here";
    EXPECT_EQ(setcom(com, 0x1F, 9600), 0);
    EXPECT_EQ(setcom(com, 3, 115200), 0);
    EXPECT_EQ(setmdm(com, 0), 1);
    EXPECT_EQ(flowcom(com, 0), 1);
    EXPECT_EQ(ondata(com, 1), 0);
    EXPECT_EQ(checkbfr(com, 0, 0), 1);
    EXPECT_EQ(clearbfr(com, 3), 1);

    // Request after request on one open: each read re-arms the listener,
    // which must go on waiting (and posting only for data) every time.
    const ReadFrame &adc = BuildAdcReadFrame();
    for (int i = 0; i < 5; ++i) {
        ExpectFrame(Exchange(adc.data(), adc.size()), CMD_GET_ADC_VALUE, kAdcResponseSize);
    }
    for (const Posted &p : recorder.All()) {
        EXPECT_EQ(std::get<0>(p), PORTLINK_WM_PORT_NOTIFY);
        EXPECT_EQ(std::get<1>(p) & 0xFFFF, PORTLINK_EV_RXCHAR);
        EXPECT_EQ(std::get<2>(p), com);
    }

    EXPECT_EQ(closecom(com), 1);
    EXPECT_EQ(closecom(com), 1) << "closing twice does no harm";
    int32_t count = 0;
    uint8_t buffer[16];
    EXPECT_EQ(readcom(com, buffer, &count), 999) << "closed";
    ASSERT_EQ(opencom(com), 0) << "reopens on the same entry";
    const ConfigValues values = {4, 20, 0, 100, 4, 20, 0, 1000};
    const ConfigWriteFrame write = BuildConfigWriteFrame(values);
    ExpectFrame(Exchange(write.data(), write.size()), CMD_SET_CONFIG_DATA,
                kConfigWriteResponseSize);
    const ReadFrame &config = BuildConfigReadFrame();
    const std::vector<uint8_t> stored = Exchange(config.data(), config.size());
    ExpectFrame(stored, CMD_GET_CONFIG_DATA, kConfigReadResponseSize);
    for (size_t i = 0; i < kConfigValueCount && stored.size() == kConfigReadResponseSize; ++i) {
        EXPECT_EQ(ReadBe16(stored.data(), kConfigReadOffsetValues + 2 * i), values[i]) << i;
    }
    EXPECT_EQ(destroycom(), 1);
    EXPECT_EQ(checkbfr(com, 0, 0), 2);
}

// A host that reads until nothing is left pays nothing for the last, empty
// read; a device that goes away with the port open is told once, and the port
// then fails at once instead of waiting.
TEST_F(ComPort, EmptyQueueReadsAtOnceAndALostDeviceIsToldOnce) {
    ASSERT_EQ(opencom(com), 0);
    ASSERT_EQ(ondata(com, 1), 0);
    const ReadFrame &adc = BuildAdcReadFrame();
    ExpectFrame(Exchange(adc.data(), adc.size()), CMD_GET_ADC_VALUE, kAdcResponseSize);
    uint8_t buffer[64];
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        int32_t count = 5;
        ASSERT_EQ(readcom(com, buffer, &count), 0) << i;
        ASSERT_EQ(count, 0) << i;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500))
        << "twenty reads of an empty queue";

    const char *sim = std::getenv("LOOPSET_SIM_PID");
    ASSERT_NE(sim, nullptr) << "run through with_loopsim.sh";
    // Wine starts a Linux program like any other.
    std::wstring kill = L"Z:\\bin\\kill -KILL " + std::wstring(sim, sim + std::strlen(sim));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const size_t before = recorder.Count();
    ASSERT_TRUE(CreateProcessW(nullptr, kill.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread), CloseHandle(process.hProcess);
    ASSERT_TRUE(recorder.WaitFor(before + 1)) << "no word of the lost device";
    EXPECT_FALSE(recorder.WaitFor(before + 2, std::chrono::milliseconds(300))) << "told again";
    const Posted last = recorder.All()[before];
    EXPECT_EQ(std::get<1>(last) & 0xFFFF, PORTLINK_EV_ERR);
    EXPECT_EQ(std::get<2>(last), com);
    const auto failed = std::chrono::steady_clock::now();
    int32_t count = 0;
    EXPECT_EQ(readcom(com, buffer, &count), 999);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(writecom(com, adc.data(), int32_t(adc.size())), 999);
    EXPECT_LT(std::chrono::steady_clock::now() - failed, std::chrono::milliseconds(500));
    EXPECT_EQ(closecom(com), 1);
}

}  // namespace
}  // namespace portlink::test
