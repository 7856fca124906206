// The twelve exports over a real port: the simulated device on a
// pseudo-terminal on Linux, a COM port mapped to it under Wine.
#include "exports.h"

#include <chrono>
#include <climits>
#include <tuple>

#include "frames.h"
#include "test_device.h"

namespace portlink::test {
namespace {

using std::chrono::steady_clock;

class Simulator : public Exports {
protected:
    void SetUp() override {
        ASSERT_EQ(device.Problem(), "");
        ASSERT_EQ(initcom(window), 1);
    }
    // Sends a request and gathers the answer as the device link does: a read
    // on every message until the frame's length is in.
    std::vector<uint8_t> Exchange(const auto &request) {
        // Counted before the write: a quick answer may be posted before it returns.
        size_t seen = recorder.Count();
        std::vector<uint8_t> answer;
        EXPECT_EQ(writecom(com, request.data(), int32_t(request.size())), 0);
        while (answer.size() < kMinFrameSize ||
               answer.size() < ReadBe16(answer.data(), kOffsetLength)) {
            if (!recorder.WaitFor(++seen)) return answer;
            for (uint8_t byte : Read(com)) answer.push_back(byte);
        }
        return answer;
    }
    static void ExpectAnswer(const std::vector<uint8_t> &frame, uint8_t command, size_t size) {
        ASSERT_EQ(frame.size(), size);
        EXPECT_EQ(frame[kOffsetCommand], command);
        EXPECT_EQ(frame[size - 2], XorChecksum(frame.data(), size - 2));
        EXPECT_EQ(frame[kOffsetStatus], STATUS_OK);
    }
    CTestDevice device;
    const int32_t com = device.Com();
};

TEST_F(Simulator, ArgumentChecksInOrder) {
    // Each per-port export with arguments that are all wrong but the port.
    auto all = [](int32_t n) {
        return Of(setcom(n, 0, -1), setmdm(n, 9), flowcom(n, 9), ondata(n, 1), closecom(n),
                  writecom(n, nullptr, -1), readcom(n, nullptr, nullptr), clearbfr(n, 9),
                  checkbfr(n, 5, 6));
    };
    // Ports below 1 with and without a window, then no window.
    const std::tuple<int32_t, PortlinkWindow *, int32_t> cases[] = {{0, nullptr, 4},
                                                                    {-1, nullptr, 4},
                                                                    {INT32_MIN, nullptr, 4},
                                                                    {0, window, 4},
                                                                    {1, nullptr, 16}};
    for (const auto &[n, w, code] : cases) {
        EXPECT_EQ(initcom(w), 1);
        EXPECT_EQ(opencom(n), code) << n;
        EXPECT_EQ(all(n), Codes(9, code)) << n;
    }
    initcom(window);
    EXPECT_EQ(all(com + 1), Codes(9, 2)) << "a number never opened";

    ASSERT_EQ(opencom(com), 0);
    int32_t count = 0, negative = -5;
    const Codes bad =
        Of(setcom(com, 0, 9600), setcom(com, 3, -1), setmdm(com, 4), setmdm(com, -1),
           flowcom(com, 4), flowcom(com, -1), clearbfr(com, 0), clearbfr(com, 4),
           writecom(com, buffer, -1), writecom(com, nullptr, 1), readcom(com, nullptr, &count),
           readcom(com, buffer, nullptr), readcom(com, buffer, &negative));
    EXPECT_EQ(bad, Codes(bad.size(), 4));
    EXPECT_EQ(checkbfr(com, -9, 12345), 1);
    EXPECT_EQ(destroycom(), 1);
    EXPECT_EQ(checkbfr(com, 0, 0), 2);
}

TEST_F(Simulator, OpenSetUpExchangeNotifyCloseAndReopen) {
    EXPECT_EQ(opencom(99), 1) << "no such device";
    EXPECT_EQ(checkbfr(99, 0, 0), 2) << "a failed open adds nothing";
    ASSERT_EQ(opencom(com), 0);
    EXPECT_EQ(opencom(com), 1) << "already open here";
    EXPECT_EQ(Of(setcom(com, 0x1F, 9600), setcom(com, 3, 115200), ondata(com, 1)), Codes(3, 0));
    EXPECT_EQ(Of(setmdm(com, 0), flowcom(com, 0), checkbfr(com, 0, 0), clearbfr(com, 3)),
              Codes(4, 1));

    // Request after request on one open: each read re-arms the listener,
    // which must go on waiting (and posting only for data) every time.
    for (int i = 0; i < 5; ++i)
        ExpectAnswer(Exchange(BuildAdcReadFrame()), CMD_GET_ADC_VALUE, kAdcResponseSize);
    for (const Posted &p : recorder.All())
        EXPECT_EQ(p, Posted(PORTLINK_WM_PORT_NOTIFY, PORTLINK_EV_RXCHAR, com));

    EXPECT_EQ(Of(closecom(com), closecom(com)), Codes(2, 1)) << "closing twice does no harm";
    int32_t count = 0;
    EXPECT_EQ(readcom(com, buffer, &count), 999) << "closed";
    ASSERT_EQ(opencom(com), 0) << "reopens on the same entry";
    const ConfigValues values = {4, 20, 0, 100, 4, 20, 0, 1000};
    ExpectAnswer(Exchange(BuildConfigWriteFrame(values)), CMD_SET_CONFIG_DATA,
                 kConfigWriteResponseSize);
    const std::vector<uint8_t> stored = Exchange(BuildConfigReadFrame());
    ExpectAnswer(stored, CMD_GET_CONFIG_DATA, kConfigReadResponseSize);
    for (size_t i = 0; i < kConfigValueCount && stored.size() == kConfigReadResponseSize; ++i)
        EXPECT_EQ(ReadBe16(stored.data(), kConfigReadOffsetValues + 2 * i), values[i]) << i;
}

// A host that reads until nothing is left pays nothing for the last, empty
// read; a device that goes away with the port open is told once, and the port
// then fails at once instead of waiting. (Under Wine the device is the
// program's only one: this case runs on its own.)
TEST_F(Simulator, EmptyReadsAreQuickAndALostDeviceIsToldOnce) {
    ASSERT_EQ(opencom(com), 0);
    ExpectAnswer(Exchange(BuildAdcReadFrame()), CMD_GET_ADC_VALUE, kAdcResponseSize);
    const auto start = steady_clock::now();
    for (int i = 0; i < 20; ++i) {
        int32_t count = 5;
        ASSERT_EQ(readcom(com, buffer, &count), 0) << i;
        ASSERT_EQ(count, 0) << i;
    }
    EXPECT_LT(steady_clock::now() - start, std::chrono::milliseconds(500)) << "twenty empty reads";

    const size_t before = recorder.Count();
    ASSERT_TRUE(device.TakeAway());
    ASSERT_TRUE(recorder.WaitFor(before + 1)) << "no word of the lost device";
    EXPECT_FALSE(recorder.WaitFor(before + 2, std::chrono::milliseconds(300))) << "told again";
    EXPECT_EQ(recorder.All()[before], Posted(PORTLINK_WM_PORT_NOTIFY, PORTLINK_EV_ERR, com));
    const auto failed = steady_clock::now();
    int32_t count = 0;
    EXPECT_EQ(readcom(com, buffer, &count), 999);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(writecom(com, buffer, 1), 999);
    EXPECT_LT(steady_clock::now() - failed, std::chrono::milliseconds(500));
    EXPECT_EQ(closecom(com), 1);
}

}  // namespace
}  // namespace portlink::test
