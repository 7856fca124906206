// Opening the serial port (the exact portlink call order), the warnings a
// failed open shows, and what Send passes on.
#include <cstring>

#include "link_fixture.h"

using Calls = std::vector<std::string>;

TEST_F(LinkTest, SerialOpenClosesOldPortThenOpensNewOneInOrder) {
    link->m_nOpenPort = 5;
    OpenSerial(3);
    EXPECT_EQ(Fake().calls,
              (Calls{"closecom(5)", "closecom(3)", "initcom", "opencom(3)", "setcom(3,3,115200)",
                     "setmdm(3,0)", "flowcom(3,0)", "ondata(3,1)"}));
    EXPECT_EQ(link->m_nOpenPort, 3);
    EXPECT_EQ(link->m_nTransport, LINK_SERIAL);
    EXPECT_EQ(Fake().window, &window);
    EXPECT_TRUE(messages.warnings.empty());
}

TEST_F(LinkTest, FirstOpenClosesPortZeroAndEveryLineRateIsAccepted) {
    OpenSerial(1);
    ASSERT_FALSE(Fake().calls.empty());
    EXPECT_EQ(Fake().calls.front(), "closecom(0)");
    for (int32_t rate : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200}) {
        const size_t before = Fake().calls.size();
        link->m_nBaudRate = rate;
        link->Open(LINK_SERIAL, &window);
        EXPECT_EQ(Fake().CallsFrom(before).at(4), "setcom(1,3," + std::to_string(rate) + ")");
    }
    EXPECT_TRUE(messages.warnings.empty());
}

TEST_F(LinkTest, UnsupportedRateWarnsAndOpensNothing) {
    link->m_nOpenPort = 4;
    link->m_nPort = 2;
    link->m_nBaudRate = 14400;
    link->Open(LINK_SERIAL, &window);
    EXPECT_EQ(Fake().calls, (Calls{"closecom(4)"}));
    EXPECT_EQ(link->m_nOpenPort, 2);
    EXPECT_EQ(messages.warnings, (Calls{"사용할 수 없는 전송 속도 입니다."}));
}

TEST_F(LinkTest, PortThatWillNotOpenIsNamedAndLineIsStillSet) {
    Fake().opencomResult = 1;
    OpenSerial(7);
    EXPECT_EQ(messages.warnings,
              (Calls{"시리얼 포트 COM 7를(을) 열수 없습니다.\r\n\r\n환경 설정에서 사용할 포트를 "
                     "선택 해주세요."}));
    EXPECT_EQ(Fake().CallsFrom(4),
              (Calls{"setcom(7,3,115200)", "setmdm(7,0)", "flowcom(7,0)", "ondata(7,1)"}));
}

TEST_F(LinkTest, TcpOpenChecksHostAndPortWithoutTouchingTheSerialPort) {
    std::strcpy(link->m_szHost, "1.2.3");
    link->m_nTcpPort = 502;
    link->Open(LINK_TCP, &window);
    std::strcpy(link->m_szHost, "");
    link->m_nTcpPort = 0;
    link->Open(LINK_TCP, &window);
    // A host filling all 16 bytes without a terminator is shown, not overrun.
    std::memset(link->m_szHost, 'h', sizeof link->m_szHost);
    link->Open(LINK_TCP, &window);
    EXPECT_EQ(messages.warnings, (Calls{"1.2.3:502 IP 설정 오류", ":0 IP 설정 오류",
                                        std::string(16, 'h') + ":0 IP 설정 오류"}));

    messages.warnings.clear();
    std::strcpy(link->m_szHost, "1.2.3.4");
    link->m_nTcpPort = 502;
    link->Open(LINK_TCP, &window);
    EXPECT_TRUE(messages.warnings.empty());
    EXPECT_TRUE(Fake().calls.empty());
    EXPECT_EQ(link->m_nTransport, LINK_TCP);
}

TEST_F(LinkTest, SendPassesLow16BitsOfLengthAndNothingWithoutATransport) {
    static uint8_t bytes[70000];
    OpenSerial(3);
    Fake().calls.clear();
    Fake().writecomResult = 999;
    EXPECT_EQ(link->Send(bytes, 70000), 999);
    EXPECT_EQ(Fake().calls, (Calls{"writecom(3,4464)"}));

    for (uint8_t transport : {0, 3}) {
        Fake().calls.clear();
        link->Open(transport, &window);
        EXPECT_EQ(link->Send(bytes, 8), 0);
        EXPECT_TRUE(Fake().calls.empty()) << int(transport);
    }
}

TEST_F(LinkTest, DestructionClosesThePortAndAnyPortLeftOpen) {
    OpenSerial(3);
    Fake().calls.clear();
    link.reset();
    EXPECT_EQ(Fake().calls, (Calls{"closecom(3)"}));

    Fake().Reset();
    link = std::make_unique<CDeviceLink>(FakePortlinkApi(), &messages);
    OpenSerial(4);
    link->m_nPort = 9;  // changed, never reopened
    Fake().calls.clear();
    link.reset();
    EXPECT_EQ(Fake().calls, (Calls{"closecom(9)", "closecom(4)"}));
}
