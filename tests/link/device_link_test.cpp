// The link against a recording portlink: the call order of a serial Open, the
// warnings, what Send passes on, and how arrivals become frames.
#include "device_link.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fake_portlink.h"

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {

const Bytes kFrame = {0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03};

}  // namespace

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override { Fake() = {}; }
    void Open(uint8_t port, int32_t rate = 115200) {
        link->m_nPort = port;
        link->m_nBaudRate = rate;
        link->Open(LINK_SERIAL, &window);
    }
    void Arrive(const Bytes &bytes, int ticksAfter = 0) {
        Fake().chunks.push_back(bytes);
        link->ReadSerial();
        while (ticksAfter--) link->Tick();
    }
    Bytes Frame(size_t n) const { return Bytes(link->m_frameBuffer, link->m_frameBuffer + n); }

    PortlinkWindow window{};
    Boxes warnings;
    std::unique_ptr<CDeviceLink> link = std::make_unique<CDeviceLink>(FakePortlinkApi(), &warnings);
};

TEST_F(LinkTest, SerialOpenSendAndEndCallPortlinkInOrderAndWarnOnFailure) {
    Open(1);
    EXPECT_EQ(Fake().calls.front(), "closecom(0)");
    link->m_nOpenPort = 5;
    Fake().calls.clear();
    Open(3);
    EXPECT_EQ(Fake().calls,
              (Strings{"closecom(5)", "closecom(3)", "initcom()", "opencom(3)",
                       "setcom(3,3,115200)", "setmdm(3,0)", "flowcom(3,0)", "ondata(3,1)"}));

    Fake().calls.clear();
    Open(2, 14400);
    EXPECT_EQ(Fake().calls, (Strings{"closecom(3)"}));
    Fake().opencomResult = 1;
    Open(7);
    EXPECT_EQ(warnings, (Strings{"사용할 수 없는 전송 속도 입니다.",
                                 "시리얼 포트 COM 7를(을) 열수 없습니다.\r\n\r\n환경 설정에서 "
                                 "사용할 포트를 선택 해주세요."}));

    // Send passes the low 16 bits of the length; the end closes both ports.
    static const uint8_t bytes[70000] = {};
    link->Send(bytes, 70000);
    EXPECT_EQ(Fake().calls.back(), "writecom(7,4464)");
    link->m_nPort = 9;  // changed since the port was opened
    Fake().calls.clear();
    link.reset();
    EXPECT_EQ(Fake().calls, (Strings{"closecom(9)", "closecom(7)"}));
}

TEST_F(LinkTest, TcpOpenWithUnusableSettingsWarnsAndTouchesNoPort) {
    warnings.clear();
    std::memcpy(link->m_szHost, "1.2.3", 6);
    link->m_nTcpPort = 502;
    link->Open(LINK_TCP, &window);
    std::memset(link->m_szHost, 0, sizeof link->m_szHost);
    link->m_nTcpPort = 0;
    link->Open(LINK_TCP, &window);
    std::memset(link->m_szHost, 'h', sizeof link->m_szHost);  // no terminator: never read past it
    link->Open(LINK_TCP, &window);
    EXPECT_EQ(warnings, (Strings{"1.2.3:502 IP 설정 오류", ":0 IP 설정 오류",
                                 std::string(16, 'h') + ":0 IP 설정 오류"}));
    EXPECT_TRUE(Fake().calls.empty());
}

TEST_F(LinkTest, FrameCompletesOnTheTickAfterItsLastByteWithinTheIdleGap) {
    Open(3);
    Arrive(Bytes(kFrame.begin(), kFrame.begin() + 4), 4);
    Arrive(Bytes(kFrame.begin() + 4, kFrame.end()));
    EXPECT_EQ(link->m_nFramesReady, 0);
    link->Tick();
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(Frame(9), (Bytes{0x02, 0x00, 0x08, 0x2B, 0x00, 0xAA, 0x8B, 0x03, 0x00}));
    EXPECT_EQ(link->m_nRxCount, 0);

    link->m_nFramesReady = 0;
    Arrive(Bytes(kFrame.begin(), kFrame.begin() + 3), 5);
    Arrive(Bytes(kFrame.begin() + 3, kFrame.end()), 10);  // after the gap: from index 0
    EXPECT_EQ(link->m_rxBuffer[0], 0x2B);
    EXPECT_EQ(link->m_nFramesReady, 0);
}

TEST_F(LinkTest, OneFramePerTickAndTheSurplusIsNeverDelivered) {
    Open(3);
    Bytes twelve = kFrame;
    twelve.insert(twelve.end(), {0x02, 0x00, 0x04, 0x03});
    Arrive(twelve, 10);
    EXPECT_EQ(link->m_nFramesReady, 1);
    EXPECT_EQ(Bytes(link->m_rxBuffer, link->m_rxBuffer + link->m_nRxCount),
              Bytes(twelve.begin() + 8, twelve.end()));
    Arrive({0x02, 0x00, 0x03, 0x2B, 0x00}, 1);  // a short length completes at once
    EXPECT_EQ(link->m_nFramesReady, 2);
    EXPECT_EQ(Frame(4), (Bytes{0x02, 0x00, 0x03, 0x00}));
    EXPECT_EQ(link->m_nRxCount, 2);
}

TEST_F(LinkTest, SerialCountAboveTheLimitDropsWhatWasGatheredAndNeverOverruns) {
    Open(3);
    link->m_nRxCount = 30000;
    link->m_nIdleTicks = 0;
    Arrive(Bytes(6000, 0x11));
    EXPECT_EQ(link->m_nRxCount, 0);
    // A full buffer gathered over TCP must not push a serial read past its end.
    link->m_nRxCount = CDeviceLink::kBufferSize;
    Arrive({0x02, 0x00});
    EXPECT_EQ(link->m_nRxCount, 2);
}
