// Start-up from config.ini, the three buttons' common steps, the port
// notification filter, and closing the window.
#include "dialog_fixture.h"

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

TEST_F(DialogTest, StartUpOpensTheStoredPortLogsStartAndRunsTheTimer) {
    WriteSettings("[Data]\r\nCom=12\r\n");
    Start();
    EXPECT_EQ(view.selection, 11);
    EXPECT_EQ(dlg->Link().m_nPort, 12);
    EXPECT_EQ(dlg->Link().m_nBaudRate, 115200);
    EXPECT_EQ(Fake().calls,
              (Strings{"closecom(0)", "closecom(12)", "initcom", "opencom(12)",
                       "setcom(12,3,115200)", "setmdm(12,0)", "flowcom(12,0)", "ondata(12,1)"}));
    EXPECT_EQ(Fake().window, &view.window);
    EXPECT_EQ(view.logText, "\r\n2026-03-04 05:06:07\tStart!");
    EXPECT_EQ(view.scrolls, 1);
    EXPECT_TRUE(view.iconsSet);
    EXPECT_EQ(view.timerId, 0);
    EXPECT_EQ(view.timerPeriodMs, 2u);
    EXPECT_EQ(dlg->SettingsPath(), settingsPath);
}

TEST_F(DialogTest, UnusableStoredPortSelectsPortOne) {
    for (const char *contents : {"[Data]\nCom=0\n", "[Data]\nCom=31\n", "[Data]\nCom=abc\n",
                                 "[Other]\nCom=5\n", static_cast<const char *>(nullptr)}) {
        std::filesystem::remove(settingsPath);
        if (contents) WriteSettings(contents);
        dlg.reset();
        Fake().Reset();
        Start();
        EXPECT_EQ(view.selection, 0) << (contents ? contents : "no file");
        EXPECT_EQ(Fake().calls.at(3), "opencom(1)");
    }
}

TEST_F(DialogTest, NoSettingsPathMeansConfigIniBesideTheProgram) {
    CLoopsetDlg beside(view, {}, FakePortlinkApi());
    beside.OnInitDialog();
    EXPECT_EQ(beside.SettingsPath(), SettingsFilePath());
}

TEST_F(DialogTest, ButtonStoresSelectedPortBeforeSendingAndGathersAnswerFromStart) {
    Start();
    view.selection = 4;
    std::string comWhenSent;
    Fake().onWrite = [&] { comWhenSent = ReadProfileString(settingsPath, "Data", "Com", "-"); };
    dlg->Link().m_nRxCount = 7;
    const size_t before = Fake().calls.size();
    dlg->OnBtnAdcRead();

    EXPECT_EQ(comWhenSent, "5");
    EXPECT_EQ(Fake().CallsFrom(before),
              (Strings{"closecom(1)", "closecom(5)", "initcom", "opencom(5)", "setcom(5,3,115200)",
                       "setmdm(5,0)", "flowcom(5,0)", "ondata(5,1)", "writecom(5,8)"}));
    EXPECT_EQ(Fake().written, (Bytes{0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0xA1, 0x03}));
    EXPECT_EQ(LogLines().back(), "Send ADC Read");
    EXPECT_EQ(dlg->Link().m_nRxCount, 0);

    dlg->OnBtnConfigRead();
    EXPECT_EQ(Fake().written, (Bytes{0x02, 0x00, 0x08, 0x3B, 0x80, 0x00, 0xB1, 0x03}));
    EXPECT_EQ(LogLines().back(), "Send Config Read");
}

TEST_F(DialogTest, ConfigWriteSendsEachFieldsAtoiValueLow16Bits) {
    Start();
    view.selection = 2;
    const char *texts[] = {"65535",   "65536", "-1", "abc",
                           "  12xyz", "70000", "",   "0000000000000009"};
    for (int i = 0; i < 8; ++i) view.fields[IDC_CH1_REF_MIN + i] = texts[i];
    dlg->OnBtnConfigWrite();

    ASSERT_EQ(Fake().written.size(), 25u);
    EXPECT_EQ(Fake().calls.back(), "writecom(3,25)");
    // The last text has 16 characters: only its first 15 are read, all zeros.
    EXPECT_EQ(Bytes(Fake().written.begin() + 5, Fake().written.begin() + 21),
              (Bytes{0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x0C, 0x11, 0x70, 0x00,
                     0x00, 0x00, 0x00}));
    EXPECT_EQ(LogLines().back(), "Send Config Write");
    EXPECT_EQ(ReadComPort(settingsPath), 3);
}

TEST_F(DialogTest, NoSelectionUsesPortZeroWhichFailsVisiblyButStillSends) {
    Start();
    view.selection = -1;
    Fake().opencomResult = 1;
    dlg->OnBtnConfigRead();
    EXPECT_EQ(view.warnings,
              (Strings{"시리얼 포트 COM 0를(을) 열수 없습니다.\r\n\r\n환경 설정에서 사용할 포트를 "
                       "선택 해주세요."}));
    EXPECT_EQ(ReadProfileString(settingsPath, "Data", "Com", "-"), "0");
    EXPECT_EQ(Fake().calls.back(), "writecom(0,8)");
}

TEST_F(DialogTest, OnlyNotificationsForOurSerialPortReadAndNoneIsConsumed) {
    WriteSettings("[Data]\nCom=3\n");
    Start();
    auto reads = [] {
        int n = 0;
        for (const std::string &c : Fake().calls) n += c.rfind("readcom", 0) == 0;
        return n;
    };
    EXPECT_FALSE(dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, 3}));
    EXPECT_EQ(reads(), 1);
    EXPECT_FALSE(dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, 4}));
    EXPECT_FALSE(dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY + 1, 1, 3}));
    dlg->Link().m_nTransport = LINK_TCP;
    EXPECT_FALSE(dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, 3}));
    EXPECT_EQ(reads(), 1);
}

TEST_F(DialogTest, EnterKeepsTheWindowEscapeClosesItAndTheEndClosesThePort) {
    WriteSettings("[Data]\nCom=6\n");
    Start();
    dlg->OnOK();
    EXPECT_EQ(view.endResult, 0);
    dlg->OnCancel();
    EXPECT_EQ(view.endResult, IDCANCEL);
    Fake().calls.clear();
    dlg.reset();
    EXPECT_EQ(Fake().calls, (Strings{"closecom(6)"}));
}
