// What the timer makes of a completed frame: checks, values shown, log lines.
#include "dialog_fixture.h"
#include "frames.h"

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

namespace {

// Sets the checksum byte (second to last) right.
Bytes WithChecksum(Bytes frame) {
    frame[frame.size() - 2] = XorChecksum(frame.data(), frame.size() - 2);
    return frame;
}

const Bytes kAdcResponse = WithChecksum(
    {0x02, 0x00, 0x10, 0x2B, 0x00, 0xAA, 0x02, 0x00, 0x01, 0x2C, 0x0F, 0xA0, 0x12, 0x34, 0, 0x03});

}  // namespace

class ResponseTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        Start();
        logged = LogLines().size();
    }
    Strings Logged() const { return LogLinesSince(logged); }
    std::string Field(int id) { return view.fields[id]; }

    size_t logged = 0;
};

TEST_F(ResponseTest, AdcResponseShowsBothChannelsAndTheExtraValue) {
    Receive(kAdcResponse);
    EXPECT_EQ(Field(IDC_ADC_CH1), "300");
    EXPECT_EQ(Field(IDC_ADC_CH2), "4000");
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "4660");
    EXPECT_EQ(Logged(), (Strings{"Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));
    EXPECT_EQ(dlg->Link().m_nFramesReady, 0);
}

TEST_F(ResponseTest, WrongChecksumIsReportedButTheValuesStillCount) {
    Bytes bad = kAdcResponse;
    bad[14] ^= 0xFF;
    Receive(bad);
    EXPECT_EQ(Logged(), (Strings{"Serial Full", "ERROR CRC", "CMD_GET_ADC_VALUE", "Ok!"}));
    EXPECT_EQ(Field(IDC_ADC_CH1), "300");
}

TEST_F(ResponseTest, RejectedResponsesChangeNoField) {
    Bytes third = kAdcResponse;
    third[6] = 3;
    Bytes control = kAdcResponse;
    control[4] = 0x80;
    Bytes noEtx = kAdcResponse;
    noEtx[15] = 0x04;
    Receive(WithChecksum(third));
    Receive(WithChecksum(control));
    Receive(noEtx);
    EXPECT_EQ(Logged(),
              (Strings{"Serial Full", "CMD_GET_ADC_VALUE", "Error response!", "Serial Full",
                       "ERROR STX or ETX or Contol", "Serial Full", "ERROR STX or ETX or Contol"}));
    EXPECT_TRUE(view.fields.empty());
}

TEST_F(ResponseTest, ConfigReadFillsTheEightFieldsWithFullRangeValues) {
    Bytes frame = {0x02, 0x00, 0x1A, 0x3B, 0x00, 0xAA};
    for (uint16_t v : {0, 65535, 1, 256, 4095, 20, 4, 32768, 0x1234}) {
        frame.push_back(static_cast<uint8_t>(v >> 8));
        frame.push_back(static_cast<uint8_t>(v));
    }
    frame.insert(frame.end(), {0, 0x03});
    Receive(WithChecksum(frame));
    EXPECT_EQ(Logged(), (Strings{"Serial Full", "CMD_GET_CONFIG_DATA", "Ok!"}));
    Strings shown;
    for (int id = IDC_CH1_REF_MIN; id <= IDC_CH2_DISP_MAX; ++id) shown.push_back(Field(id));
    EXPECT_EQ(shown, (Strings{"0", "65535", "1", "256", "4095", "20", "4", "32768"}));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "4660");
}

TEST_F(ResponseTest, ConfigWriteAnswerTellsWhetherTheDeviceAcceptedTheCrc) {
    Receive(WithChecksum({0x02, 0x00, 0x0A, 0x4B, 0x00, 0xAA, 0x00, 0x07, 0, 0x03}));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "7");
    Receive(WithChecksum({0x02, 0x00, 0x0A, 0x4B, 0x00, 0x55, 0xFF, 0xFF, 0, 0x03}));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "65535");
    Receive(WithChecksum({0x02, 0x00, 0x0A, 0x4B, 0x00, 0x00, 0x00, 0x09, 0, 0x03}));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "65535");
    EXPECT_EQ(Logged(), (Strings{"Serial Full", "CMD_SET_CONFIG_DATA", "CRC16 Ok!", "Serial Full",
                                 "CMD_SET_CONFIG_DATA", "CRC16 Error!", "Serial Full",
                                 "CMD_SET_CONFIG_DATA", "Error response!"}));
}

TEST_F(ResponseTest, UnknownCommandLogsOnlyThatAFrameCame) {
    Receive(WithChecksum({0x02, 0x00, 0x08, 0x5B, 0x00, 0xAA, 0, 0x03}));
    EXPECT_EQ(Logged(), (Strings{"Serial Full"}));
    EXPECT_TRUE(view.fields.empty());
}

// The frame buffer still holds the previous answer behind a shorter one; none
// of its bytes may be shown or tested as if they were new.
TEST_F(ResponseTest, ShortFramesNeverShowBytesOfAnOlderFrame) {
    Receive(kAdcResponse);
    Receive(WithChecksum({0x02, 0x00, 0x09, 0x2B, 0x00, 0xAA, 0x02, 0, 0x03}));
    Receive({0x02, 0x00, 0x03, 0x00, 0x00});  // no room for a control byte
    EXPECT_EQ(Logged(), (Strings{"Serial Full", "CMD_GET_ADC_VALUE", "Ok!", "Serial Full",
                                 "CMD_GET_ADC_VALUE", "Error response!", "Serial Full",
                                 "ERROR STX or ETX or Contol"}));
    EXPECT_EQ(Field(IDC_ADC_CH1), "300");
    EXPECT_EQ(Field(IDC_ADC_CH2), "4000");
}

TEST_F(ResponseTest, AnswerInPiecesCompletesOnlyOnceWhole) {
    dlg->OnBtnAdcRead();
    logged = LogLines().size();
    Receive(Bytes(kAdcResponse.begin(), kAdcResponse.begin() + 6));
    EXPECT_EQ(Logged(), Strings{});
    Receive(Bytes(kAdcResponse.begin() + 6, kAdcResponse.end()));
    EXPECT_EQ(Logged(), (Strings{"Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));
}
