// The dialog's behaviour on an in-memory view and a recording portlink, with
// its own config.ini: start-up, the buttons, the port filter, the responses.
#include "loopset_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "fake_portlink.h"
#include "fake_view.h"
#include "frames.h"
#include "settings.h"

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake() = {};
        char tmpl[] = "/tmp/loopset_dlg_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        dlg.reset();
        std::filesystem::remove_all(dir);
    }
    void Start(const char *settings = nullptr) {
        dlg.reset();
        Fake() = {};
        std::filesystem::remove(Ini());
        if (settings) std::ofstream(Ini()) << settings;
        dlg = std::make_unique<CLoopsetDlg>(view, Ini(), FakePortlinkApi());
        dlg->Log().SetClock([] { return LocalTime{2026, 3, 4, 5, 6, 7}; });
        ASSERT_TRUE(dlg->OnInitDialog());
    }
    std::string Ini() const { return dir + "/config.ini"; }
    // The log's texts without their time stamps, from entry `from` on.
    Strings Logged(size_t from = 0) const {
        Strings texts;
        for (size_t tab = view.logText.find('\t'); tab != std::string::npos;
             tab = view.logText.find('\t', tab + 1))
            texts.push_back(view.logText.substr(tab + 1, view.logText.find("\r\n", tab) - tab - 1));
        return Strings(texts.begin() + static_cast<long>(from), texts.end());
    }
    // Bytes at our port: the listener's notification, then one timer tick.
    void Receive(const Bytes &bytes) {
        Fake().chunks.push_back(bytes);
        EXPECT_FALSE(dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Link().m_nPort}));
        dlg->OnTimer(0);
    }

    std::string dir;
    FakeView view;
    std::unique_ptr<CLoopsetDlg> dlg;
};

TEST_F(DialogTest, StartUpOpensTheStoredPortLogsStartAndRunsTheTimer) {
    Start("[Data]\r\nCom=12\r\n");
    EXPECT_EQ(view.selection, 11);
    EXPECT_EQ(Fake().calls,
              (Strings{"closecom(0)", "closecom(12)", "initcom()", "opencom(12)",
                       "setcom(12,3,115200)", "setmdm(12,0)", "flowcom(12,0)", "ondata(12,1)"}));
    EXPECT_EQ(Fake().window, &view.window);
    EXPECT_EQ(view.logText, "\r\n2026-03-04 05:06:07\tStart!");
    EXPECT_EQ(view.timerId, 0u);
    EXPECT_EQ(view.timerPeriodMs, 2u);

    for (const char *settings : {"[Data]\nCom=0\n", "[Data]\nCom=31\n", "[Data]\nCom=abc\n", ""}) {
        Start(*settings ? settings : nullptr);
        EXPECT_EQ(Fake().calls.at(3), "opencom(1)") << settings;
    }
    CLoopsetDlg beside(view, {}, FakePortlinkApi());  // no path given: beside the program
    beside.OnInitDialog();
    EXPECT_EQ(beside.SettingsPath(), SettingsFilePath());
}

TEST_F(DialogTest, ButtonsStoreThePortBeforeSendingAndGatherTheAnswerFromTheStart) {
    Start();
    view.selection = 4;
    std::string comWhenSent;
    Fake().onWrite = [&] { comWhenSent = ReadProfileString(Ini(), "Data", "Com", "-"); };
    dlg->Link().m_nRxCount = 7;
    const size_t logged = Logged().size();
    Fake().calls.clear();
    dlg->OnBtnAdcRead();
    EXPECT_EQ(comWhenSent, "5");
    EXPECT_EQ(Fake().calls.front(), "closecom(1)");
    EXPECT_EQ(Fake().calls.back(), "writecom(5,8)");
    EXPECT_EQ(Fake().written, (Bytes{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03}));
    EXPECT_EQ(dlg->Link().m_nRxCount, 0);

    dlg->OnBtnConfigRead();
    EXPECT_EQ(Fake().written, (Bytes{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03}));
    const char *texts[] = {"65535", "65536", "-1", "abc", " 12x", "70000", "", "0000000000000009"};
    for (int i = 0; i < 8; ++i) view.fields[IDC_CH1_REF_MIN + i] = texts[i];
    dlg->OnBtnConfigWrite();
    ASSERT_EQ(Fake().written.size(), 25u);  // the 16-character text is read as 15 zeros
    EXPECT_EQ(Bytes(Fake().written.begin() + 5, Fake().written.begin() + 21),
              (Bytes{0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0x0C, 0x11, 0x70, 0, 0, 0, 0}));
    EXPECT_EQ(Logged(logged), (Strings{"Send ADC Read", "Send Config Read", "Send Config Write"}));

    view.selection = -1;  // text typed into the selector: port 0, which fails visibly
    Fake().opencomResult = 1;
    dlg->OnBtnAdcRead();
    EXPECT_NE(view.warnings.back().find("COM 0를"), std::string::npos);
    EXPECT_EQ(ReadProfileString(Ini(), "Data", "Com", "-"), "0");
    EXPECT_EQ(Fake().calls.back(), "writecom(0,8)");
}

TEST_F(DialogTest, OnlyNotificationsForOurSerialPortAreReadAndOnlyEscapeCloses) {
    Start("[Data]\nCom=3\n");
    for (WindowMessage msg : {WindowMessage{1124, 1, 3}, {1124, 1, 4}, {1125, 1, 3}})
        EXPECT_FALSE(dlg->PreTranslateMessage(msg));
    dlg->Link().m_nTransport = LINK_TCP;
    dlg->PreTranslateMessage({1124, 1, 3});
    EXPECT_EQ(std::count(Fake().calls.begin(), Fake().calls.end(), "readcom(3)"), 1);

    dlg->OnOK();
    EXPECT_EQ(view.endResult, 0);
    dlg->OnCancel();
    EXPECT_EQ(view.endResult, IDCANCEL);
    Fake().calls.clear();
    dlg.reset();
    EXPECT_EQ(Fake().calls, (Strings{"closecom(3)"}));
}

namespace {

// A response with its checksum byte set right unless told otherwise.
Bytes Response(Bytes frame, uint8_t checksumFlip = 0) {
    frame[frame.size() - 2] = XorChecksum(frame.data(), frame.size() - 2) ^ checksumFlip;
    return frame;
}

Bytes Adc(uint8_t control = 0x00, uint8_t status = 0xAA, uint8_t byte6 = 2, uint8_t flip = 0) {
    return Response({0x02, 0x00, 0x10, 0x2B, control, status, byte6, 0x00, 0x01, 0x2C, 0x0F, 0xA0,
                     0x12, 0x34, 0, 0x03},
                    flip);
}

struct Case {
    const char *name;
    Bytes frame;
    Strings logged;  // after "Serial Full"
    std::map<int, std::string> fields;
};

}  // namespace

TEST_F(DialogTest, ResponsesAreCheckedShownAndLogged) {
    Bytes config = {0x02, 0x00, 0x1A, 0x3B, 0x00, 0xAA};
    for (int v : {0, 65535, 1, 256, 4095, 20, 4, 32768, 0x1234})
        config.insert(config.end(), {uint8_t(v >> 8), uint8_t(v)});
    config.insert(config.end(), {0, 0x03});
    const std::map<int, std::string> adcShown = {
        {IDC_ADC_CH1, "300"}, {IDC_ADC_CH2, "4000"}, {IDC_EXTRA_VALUE, "4660"}};
    const Case cases[] = {
        {"adc", Adc(), {"CMD_GET_ADC_VALUE", "Ok!"}, adcShown},
        {"bad checksum",
         Adc(0, 0xAA, 2, 0xFF),
         {"ERROR CRC", "CMD_GET_ADC_VALUE", "Ok!"},
         adcShown},
        {"byte 6 is 3", Adc(0, 0xAA, 3), {"CMD_GET_ADC_VALUE", "Error response!"}, {}},
        {"request control", Adc(0x80), {"ERROR STX or ETX or Contol"}, {}},
        {"config read",
         Response(config),
         {"CMD_GET_CONFIG_DATA", "Ok!"},
         {{1007, "0"},
          {1008, "65535"},
          {1009, "1"},
          {1010, "256"},
          {1011, "4095"},
          {1012, "20"},
          {1013, "4"},
          {1014, "32768"},
          {IDC_EXTRA_VALUE, "4660"}}},
        {"write ok",
         Response({2, 0, 10, 0x4B, 0, 0xAA, 0, 7, 0, 3}),
         {"CMD_SET_CONFIG_DATA", "CRC16 Ok!"},
         {{IDC_EXTRA_VALUE, "7"}}},
        {"write crc bad",
         Response({2, 0, 10, 0x4B, 0, 0x55, 0xFF, 0xFF, 0, 3}),
         {"CMD_SET_CONFIG_DATA", "CRC16 Error!"},
         {{IDC_EXTRA_VALUE, "65535"}}},
        {"write refused",
         Response({2, 0, 10, 0x4B, 0, 0x00, 0, 9, 0, 3}),
         {"CMD_SET_CONFIG_DATA", "Error response!"},
         {}},
        {"unknown command", Response({2, 0, 8, 0x5B, 0, 0xAA, 0, 3}), {}, {}},
        // Shorter than their values: the older answer's bytes behind them are never shown.
        {"short adc",
         Response({2, 0, 9, 0x2B, 0, 0xAA, 2, 0, 3}),
         {"CMD_GET_ADC_VALUE", "Error response!"},
         {}},
        {"no control byte", {2, 0, 3, 0, 0}, {"ERROR STX or ETX or Contol"}, {}},
    };
    Start();
    for (const Case &c : cases) {
        Receive(Adc());  // an older answer in the frame buffer
        view.fields.clear();
        const size_t logged = Logged().size();
        Receive(c.frame);
        Strings expected = {"Serial Full"};
        expected.insert(expected.end(), c.logged.begin(), c.logged.end());
        EXPECT_EQ(Logged(logged), expected) << c.name;
        EXPECT_EQ(view.fields, c.fields) << c.name;
    }
}
