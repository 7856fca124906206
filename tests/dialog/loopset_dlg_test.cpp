// The dialog's behaviour on an in-memory view and a recording portlink, with
// its own config.ini: start-up, the buttons, the port filter, the responses.
#include "loopset_dlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fake_portlink.h"
#include "fake_view.h"
#include "frames.h"
#include "settings.h"

using Strings = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

class DialogTest : public ::testing::Test {
protected:
    void TearDown() override { std::filesystem::remove_all(dir); }
    void Start(const char *settings = nullptr) {
        dlg.reset();
        Fake() = {};
        std::filesystem::remove(ini);
        if (settings) std::ofstream(ini) << settings;
        dlg = std::make_unique<CLoopsetDlg>(view, ini, FakePortlinkApi());
        dlg->Log().SetClock([] { return LocalTime{2026, 3, 4, 5, 6, 7}; });
        ASSERT_TRUE(dlg->OnInitDialog());
    }
    // The log's text for these entries.
    static std::string Entries(const Strings &texts) {
        std::string text;
        for (const std::string &t : texts) text += "\r\n2026-03-04 05:06:07\t" + t;
        return text;
    }
    // The ports opened so far, in order.
    static Strings Opened() {
        Strings opened;
        for (const std::string &call : Fake().calls)
            if (call.rfind("opencom(", 0) == 0) opened.push_back(call);
        return opened;
    }
    // Bytes at our port: the listener's notification, then one timer tick.
    void Receive(const Bytes &bytes) {
        Fake().chunks.push_back(bytes);
        EXPECT_FALSE(dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Session().Link().m_nPort}));
        dlg->OnTimer(0);
    }

    char tmpl[24] = "/tmp/loopset_dlg_XXXXXX";
    const std::string dir = mkdtemp(tmpl), ini = dir + "/config.ini";
    FakeView view;
    std::unique_ptr<CLoopsetDlg> dlg;
};

TEST_F(DialogTest, StartUpPortFilterAndClosing) {
    Start("[Data]\r\nCom=12\r\n");
    EXPECT_EQ(view.selection, 11);
    EXPECT_EQ(Opened(), Strings{"opencom(12)"});
    EXPECT_EQ(Fake().window, &view.window);
    EXPECT_EQ(view.logText, Entries({"Start!"}));
    EXPECT_TRUE(view.timerRunning);

    // Only notifications for our serial port are read; only Escape closes.
    for (WindowMessage msg : {WindowMessage{1124, 1, 12}, {1124, 1, 4}, {1125, 1, 12}})
        EXPECT_FALSE(dlg->PreTranslateMessage(msg));
    EXPECT_EQ(std::count(Fake().calls.begin(), Fake().calls.end(), "readcom(12)"), 1);
    dlg->OnOK();
    EXPECT_EQ(view.endResult, 0);
    dlg->OnCancel();
    EXPECT_EQ(view.endResult, kDialogCancel);
}

TEST_F(DialogTest, ButtonsStoreThePortBeforeSendingAndGatherTheAnswerFromTheStart) {
    Start();
    view.selection = 4;
    std::string comWhenSent;
    Fake().onWrite = [&] { comWhenSent = ReadProfileString(ini, "Data", "Com", "-"); };
    Fake().chunks.push_back({STX, 0, 16});  // the start of an answer nobody asked for
    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Session().Link().m_nPort});
    ASSERT_EQ(dlg->Session().Link().m_nRxCount, 3);
    dlg->OnBtnAdcRead();
    EXPECT_EQ(comWhenSent, "5");
    EXPECT_EQ(std::count(Fake().calls.begin(), Fake().calls.end(), "opencom(5)"), 1);
    EXPECT_EQ(Fake().calls.back(), "writecom(5,8)");
    EXPECT_EQ(dlg->Session().Link().m_nRxCount, 0);

    dlg->OnBtnConfigRead();
    const char *texts[] = {"65535", "65536", "-1", "abc", " 12x", "70000", "", "9999999999999999"};
    for (int i = 0; i < 8; ++i) view.fields[IDC_CH1_REF_MIN + i] = texts[i];
    dlg->OnBtnConfigWrite();
    ASSERT_EQ(Fake().written.size(), 25u);  // like atoi, low 16 bits, at most 15 characters read
    EXPECT_EQ(Bytes(Fake().written.begin() + 5, Fake().written.begin() + 21),
              (Bytes{0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0x0C, 0x11, 0x70, 0, 0, 0x7F, 0xFF}));
    EXPECT_EQ(view.logText,
              Entries({"Start!", "Send ADC Read", "Send Config Read", "Send Config Write"}));

    view.selection = -1;  // text typed into the selector: port 0, which fails visibly
    Fake().opencomResult = 1;
    dlg->OnBtnAdcRead();
    EXPECT_NE(view.warnings.back().find("COM 0를"), std::string::npos);
    EXPECT_EQ(ReadProfileString(ini, "Data", "Com", "-"), "0");
    EXPECT_EQ(Fake().calls.back(), "writecom(0,8)");
}

TEST_F(DialogTest, ResponsesAreCheckedShownAndLogged) {
    // Each with its checksum set right, or flipped.
    auto response = [](Bytes frame, uint8_t flip = 0) {
        frame[frame.size() - 2] = XorChecksum(frame.data(), frame.size() - 2) ^ flip;
        return frame;
    };
    auto adc = [&](uint8_t control = 0, uint8_t byte6 = 2, uint8_t flip = 0) {
        return response(
            {2, 0, 16, 0x2B, control, 0xAA, byte6, 0, 1, 0x2C, 0x0F, 0xA0, 0x12, 0x34, 0, 3}, flip);
    };
    auto config = [&](uint8_t status = 0xAA) {
        return response({2, 0,    26,   0x3B, 0,  status, 0, 0,    0xFF, 0xFF, 0,    1, 1,
                         0, 0x0F, 0xFF, 0,    20, 0,      4, 0x80, 0,    0x12, 0x34, 0, 3});
    };
    auto write = [&](uint8_t status) {
        return response({2, 0, 10, 0x4B, 0, status, 0xFF, 0xFF, 0, 3});
    };
    auto with = [](Bytes frame, size_t at, uint8_t value) {
        frame[at] = value;
        return frame;
    };
    using Fields = std::map<int, std::string>;
    const Fields adcShown = {
        {IDC_ADC_CH1, "300"}, {IDC_ADC_CH2, "4000"}, {IDC_EXTRA_VALUE, "4660"}};
    const Fields configShown = {{1007, "0"},   {1008, "65535"}, {1009, "1"},
                                {1010, "256"}, {1011, "4095"},  {1012, "20"},
                                {1013, "4"},   {1014, "32768"}, {IDC_EXTRA_VALUE, "4660"}};
    const Strings malformed = {"ERROR STX or ETX or Contol"};
    using Kind = ResponseOutcome::Kind;
    // The response, what is logged after "Serial Full", the fields shown, and
    // the outcome the host is told.
    const std::tuple<Bytes, Strings, Fields, Kind> cases[] = {
        {adc(), {"CMD_GET_ADC_VALUE", "Ok!"}, adcShown, Kind::Ok},
        {adc(0, 2, 0xFF), {"ERROR CRC", "CMD_GET_ADC_VALUE", "Ok!"}, adcShown,  // still shown
         Kind::ChecksumError},
        {adc(0, 3), {"CMD_GET_ADC_VALUE", "Error response!"}, {}, Kind::Refused},
        {response(with(adc(), 5, 0x55)), {"CMD_GET_ADC_VALUE", "Error response!"}, {},
         Kind::Refused},
        {adc(0x80), malformed, {}, Kind::Malformed},  // a request's control byte
        {with(adc(), 0, 0x12), malformed, {}, Kind::Malformed},
        {with(adc(), 15, 0x13), malformed, {}, Kind::Malformed},
        {config(), {"CMD_GET_CONFIG_DATA", "Ok!"}, configShown, Kind::Ok},
        {config(0x55), {"CMD_GET_CONFIG_DATA", "Error response!"}, {}, Kind::Refused},
        {config(0x01), {"CMD_GET_CONFIG_DATA", "Error response!"}, {}, Kind::Refused},
        {with(config(), 4, 0x80), malformed, {}, Kind::Malformed},
        {with(config(), 25, 0x00), malformed, {}, Kind::Malformed},
        {with(config(), 0, 0x03), malformed, {}, Kind::Malformed},
        {write(0xAA), {"CMD_SET_CONFIG_DATA", "CRC16 Ok!"}, {{IDC_EXTRA_VALUE, "65535"}}, Kind::Ok},
        {write(0x55), {"CMD_SET_CONFIG_DATA", "CRC16 Error!"}, {{IDC_EXTRA_VALUE, "65535"}},
         Kind::Refused},
        {write(0x01), {"CMD_SET_CONFIG_DATA", "Error response!"}, {}, Kind::Refused},
        {with(write(0xAA), 4, 0x80), malformed, {}, Kind::Malformed},
        {with(write(0xAA), 9, 0x02), malformed, {}, Kind::Malformed},
        {response({2, 0, 8, 0x5B, 0, 0xAA, 0, 3}), {}, {}, Kind::UnknownCommand},
        // Shorter than their values: the older answer's bytes behind them are never shown.
        {response({2, 0, 9, 0x2B, 0, 0xAA, 2, 0, 3}), {"CMD_GET_ADC_VALUE", "Error response!"}, {},
         Kind::Refused},
        {response({2, 0, 25, 0x3B, 0, 0xAA, 0, 0, 0xFF, 0xFF, 0, 1, 1, 0, 0x0F, 0xFF, 0, 20, 0, 4,
                   0x80, 0, 0x12, 0x34, 3}),
         {"CMD_GET_CONFIG_DATA", "Error response!"}, {}, Kind::Refused},
        {response({2, 0, 9, 0x4B, 0, 0xAA, 0xFF, 0, 3}), {"CMD_SET_CONFIG_DATA", "Error response!"},
         {}, Kind::Refused},
        {{2, 0, 3, 0, 0}, malformed, {}, Kind::Malformed},  // no control byte
        {{2, 0, 4, 3, 0xFF}, malformed, {}, Kind::Malformed},  // four bytes: none to spare
    };
    Start();
    for (const auto &[frame, logged, fields, kind] : cases) {
        Receive(config());  // an older answer in the frame buffer
        Receive(adc());
        view.fields.clear();
        const size_t mark = view.logText.size();
        // The link never takes a frame that does not start with STX; the
        // dialog checks all the same, for a link that would.
        if (frame[0] == STX)
            Receive(frame);
        else
            dlg->OnFrame(frame);
        // Whatever did not make a frame is dropped by the idle gap.
        for (int tick = 0; tick < CDeviceLink::kIdleGap; ++tick) dlg->OnTimer(0);
        EXPECT_EQ(view.logText.substr(mark), Entries({"Serial Full"}) + Entries(logged))
            << ::testing::PrintToString(frame);
        EXPECT_EQ(view.fields, fields) << ::testing::PrintToString(frame);
        ASSERT_FALSE(view.outcomes.empty());
        const ResponseOutcome &out = view.outcomes.back();
        EXPECT_EQ(out.kind, kind) << ::testing::PrintToString(frame);
        // The outcome carries exactly what the fields show.
        Fields told;
        if (out.hasAdc) told[IDC_ADC_CH1] = std::to_string(out.ch1);
        if (out.hasAdc) told[IDC_ADC_CH2] = std::to_string(out.ch2);
        for (size_t i = 0; out.hasConfig && i < 8; ++i)
            told[IDC_CH1_REF_MIN + static_cast<int>(i)] = std::to_string(out.config[i]);
        if (out.hasExtra) told[IDC_EXTRA_VALUE] = std::to_string(out.extra);
        EXPECT_EQ(told, fields) << ::testing::PrintToString(frame);
    }
}

// The timer sleeps while there is nothing to gather and wakes, with a first
// tick at once, for a send and for every arrival; a frame in pieces keeps it
// running until the frame is complete or the idle gap has dropped it.
TEST_F(DialogTest, TimerRunsOnlyWhileThereIsSomethingToGather) {
    Start();
    EXPECT_TRUE(view.timerRunning);
    dlg->OnTimer(0);
    EXPECT_FALSE(view.timerRunning);

    dlg->OnBtnAdcRead();
    EXPECT_TRUE(view.timerRunning);
    EXPECT_EQ(view.timerFirstMs, 0u);
    dlg->OnTimer(0);
    EXPECT_FALSE(view.timerRunning) << "no byte came: nothing to gather";

    const Bytes answer = {2, 0, 16, 0x2B, 0, 0xAA, 2, 0, 1, 0x2C, 0x0F, 0xA0, 0x12, 0x34, 0x35, 3};
    Fake().chunks.push_back(Bytes(answer.begin(), answer.begin() + 6));
    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Session().Link().m_nPort});
    EXPECT_TRUE(view.timerRunning);
    for (int tick = 0; tick < CDeviceLink::kIdleGap - 1; ++tick) dlg->OnTimer(0);
    EXPECT_TRUE(view.timerRunning) << "half a frame is still being gathered";
    Fake().chunks.push_back(Bytes(answer.begin() + 6, answer.end()));
    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Session().Link().m_nPort});
    dlg->OnTimer(0);
    EXPECT_EQ(view.fields[IDC_ADC_CH1], "300");
    dlg->OnTimer(0);
    EXPECT_FALSE(view.timerRunning);

    // Half a frame and then silence: past the gap it could never complete.
    Fake().chunks.push_back(Bytes(answer.begin(), answer.begin() + 6));
    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Session().Link().m_nPort});
    for (int tick = 0; tick < CDeviceLink::kIdleGap; ++tick) dlg->OnTimer(0);
    EXPECT_FALSE(view.timerRunning);

    // The half frame is said to have gone with the next arrival, and a port
    // that hangs up is one log line, however often the timer ticks.
    const std::string before = view.logText;
    Fake().readcomResult = 999;
    dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Session().Link().m_nPort});
    for (int tick = 0; tick < 3; ++tick) dlg->OnTimer(0);
    EXPECT_EQ(view.logText, before + Entries({"Dropped 6 bytes that made no answer",
                                              "Line lost: readcom answered 999 (the port hung up)"}));
}

// A client's quiet request goes out on the open port without a log line, and
// its answer fills the fields unlogged; a button pressed meanwhile waits for
// that answer (reopening the port or gathering afresh would lose it), and the
// next request waits for the button's.
TEST_F(DialogTest, QuietRequestsAreUnloggedAndAButtonWaitsForTheirAnswer) {
    Start();
    auto framed = [](Bytes frame) {
        frame[frame.size() - 2] = XorChecksum(frame.data(), frame.size() - 2);
        return frame;
    };
    struct Client : ISessionClient {
        std::vector<RequestOutcome> outcomes;
        void OnOutcome(const RequestOutcome &o) override { outcomes.push_back(o); }
    } client;
    const Bytes adc = framed({2, 0, 16, 0x2B, 0, 0xAA, 2, 0, 1, 0x2C, 0x0F, 0xA0, 0, 7, 0, 3});
    const std::string log = view.logText;
    const size_t opened = Opened().size();
    SessionRequest sample;
    sample.quiet = true;
    CDeviceSession &session = dlg->Session();
    ASSERT_EQ(session.Submit(sample, &client), CDeviceSession::Submitted::Sent);
    EXPECT_EQ(Fake().calls.back(), "writecom(1,8)");
    dlg->OnBtnConfigRead();
    EXPECT_EQ(Fake().calls.back(), "writecom(1,8)") << "the button waits";
    EXPECT_EQ(Fake().written[3], 0x2B);
    EXPECT_EQ(session.Submit(sample, &client), CDeviceSession::Submitted::Busy);
    EXPECT_EQ(view.logText, log);
    Receive(adc);
    ASSERT_EQ(client.outcomes.size(), 1u);
    EXPECT_EQ(client.outcomes[0].answer.ch1, 300);
    EXPECT_EQ(view.fields[IDC_ADC_CH1], "300");
    EXPECT_EQ(Fake().written[3], 0x3B) << "then the button's request goes";
    EXPECT_EQ(view.logText, log + Entries({"Send Config Read"}));
    EXPECT_EQ(Opened().size(), opened + 1);
    EXPECT_EQ(session.Submit(sample, &client), CDeviceSession::Submitted::Busy);
    Receive(framed({2, 0, 26, 0x3B, 0, 0xAA, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5,
                    0, 6, 0, 7, 0, 8, 0, 9, 0, 3}));
    EXPECT_EQ(session.LastConfig(), (ConfigValues{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(session.Submit(sample, &client), CDeviceSession::Submitted::Sent);
}
