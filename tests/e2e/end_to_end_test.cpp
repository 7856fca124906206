// The dialog, headless, with the real link and the real portlink, talking to
// loopsim (a separate process) over a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "frames.h"
#include "headless_view.h"
#include "portlink.h"
#include "settings.h"
#include "sim_process.h"

namespace {

constexpr int kPort = 7;
constexpr char kPortVariable[] = "PORTLINK_COM7";

using Entries = std::vector<std::string>;

std::string Hex(const uint8_t *bytes, size_t count) {
    std::string text;
    char b[4];
    for (size_t i = 0; i < count; ++i) {
        snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        text += b;
    }
    return text;
}

struct AdcLine {
    int ch1 = -1, ch2 = -1, extra = -1;
};

// The values loopsim logged for its answer number n.
AdcLine AdcValuesOf(const std::string &log, int n) {
    AdcLine v;
    const std::string tag = "loopsim: #" + std::to_string(n) + " ";
    const size_t line = log.find(tag);
    if (line == std::string::npos) return v;
    const size_t at = log.find("CMD_GET_ADC_VALUE: ", line);
    if (at == std::string::npos) return v;
    sscanf(log.c_str() + at, "CMD_GET_ADC_VALUE: ch1 %d ch2 %d extra %d", &v.ch1, &v.ch2, &v.extra);
    return v;
}

int Count(const Entries &entries, const std::string &text) {
    int n = 0;
    for (const std::string &e : entries) n += e == text;
    return n;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/loopset-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
        m_ini = m_dir + "/config.ini";
        ASSERT_TRUE(WriteComPort(m_ini, kPort));
    }

    void TearDown() override {
        m_dlg.reset();  // closes the port before the simulator goes
        // The view dies with this test, but portlink keeps the window pointer
        // it was given and reads it even in closecom (the next test's first
        // Open starts with one) after every port is closed. Withdraw it.
        initcom(nullptr);
        if (m_sim.Pid() > 0) {
            EXPECT_EQ(m_sim.Stop(SIGTERM), 0) << m_sim.Log();
        }
        unlink(m_ini.c_str());
        rmdir(m_dir.c_str());
    }

    // Starts loopsim with args, points COM7 at it and starts the dialog.
    void Start(const std::vector<std::string> &args) {
        ASSERT_TRUE(m_sim.Start(LOOPSIM_PATH, args)) << m_sim.Log();
        setenv(kPortVariable, m_sim.Path().c_str(), 1);
        m_dlg = std::make_unique<CLoopsetDlg>(m_view, m_ini);
        ASSERT_TRUE(m_dlg->OnInitDialog());
        ASSERT_TRUE(m_view.TimerStarted());
        ASSERT_TRUE(m_view.Warnings().empty()) << m_view.Warnings()[0];
        ASSERT_EQ(m_dlg->Link().m_nPort, kPort);
    }

    // Pumps until the log holds count entries equal to text.
    bool WaitFor(const std::string &text, int count = 1, int timeoutMs = 3000) {
        return Pump(
            *m_dlg, m_view, [&] { return Count(m_view.LogEntries(), text) >= count; }, timeoutMs);
    }

    Entries Log() const { return m_view.LogEntries(); }
    std::string Field(int id) const { return m_view.Field(id); }

    CSimProcess m_sim;
    CHeadlessView m_view;
    std::unique_ptr<CLoopsetDlg> m_dlg;
    std::string m_dir, m_ini;
};

const ConfigValues kFactory{819, 4095, 0, 1000, 819, 4095, 0, 2000};
const int kConfigIds[] = {IDC_CH1_REF_MIN, IDC_CH1_REF_MAX, IDC_CH1_DISP_MIN, IDC_CH1_DISP_MAX,
                          IDC_CH2_REF_MIN, IDC_CH2_REF_MAX, IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX};

}  // namespace

TEST_F(EndToEnd, AdcReadShowsTheSimulatorsValues) {
    Start({});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!")) << m_sim.Log();
    EXPECT_EQ(Log(),
              (Entries{"Start!", "Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));

    const std::string simLog = m_sim.Log();
    const ReadFrame &request = BuildAdcReadFrame();
    EXPECT_NE(simLog.find("#1 [" + Hex(request.data(), request.size()) + "] CMD_GET_ADC_VALUE"),
              std::string::npos)
        << simLog;
    const AdcLine v = AdcValuesOf(simLog, 1);
    ASSERT_GE(v.ch1, 0) << simLog;
    EXPECT_EQ(Field(IDC_ADC_CH1), std::to_string(v.ch1));
    EXPECT_EQ(Field(IDC_ADC_CH2), std::to_string(v.ch2));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "1");
    EXPECT_EQ(ReadComPort(m_ini), kPort);

    // A second read shows the drifted values of the second answer.
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!", 2));
    const AdcLine w = AdcValuesOf(m_sim.Log(), 2);
    EXPECT_EQ(Field(IDC_ADC_CH1), std::to_string(w.ch1));
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "2");
}

TEST_F(EndToEnd, ConfigReadFillsTheFieldsAndWritingThemBackIsAccepted) {
    Start({});
    m_dlg->OnBtnConfigRead();
    ASSERT_TRUE(WaitFor("Ok!")) << m_sim.Log();
    for (size_t i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(Field(kConfigIds[i]), std::to_string(kFactory[i])) << kConfigIds[i];

    m_dlg->OnBtnConfigWrite();
    ASSERT_TRUE(WaitFor("CRC16 Ok!")) << m_sim.Log();
    EXPECT_EQ(Field(IDC_EXTRA_VALUE), "2");
    EXPECT_EQ(Log(),
              (Entries{"Start!", "Send Config Read", "Serial Full", "CMD_GET_CONFIG_DATA", "Ok!",
                       "Send Config Write", "Serial Full", "CMD_SET_CONFIG_DATA", "CRC16 Ok!"}));

    // The wire carried exactly the program's frames.
    const std::string simLog = m_sim.Log();
    const ReadFrame &read = BuildConfigReadFrame();
    const ConfigWriteFrame write = BuildConfigWriteFrame(kFactory);
    EXPECT_NE(simLog.find("#1 [" + Hex(read.data(), read.size()) + "] CMD_GET_CONFIG_DATA"),
              std::string::npos)
        << simLog;
    EXPECT_NE(
        simLog.find("#2 [" + Hex(write.data(), write.size()) + "] CMD_SET_CONFIG_DATA: CRC16 ok"),
        std::string::npos)
        << simLog;

    // Values typed by the user are stored by the device and read back.
    m_view.SetFieldText(IDC_CH1_REF_MAX, "3000");
    m_view.SetFieldText(IDC_CH2_DISP_MAX, "-1");
    m_view.SetFieldText(IDC_CH2_DISP_MIN, "70000");
    m_dlg->OnBtnConfigWrite();
    ASSERT_TRUE(WaitFor("CRC16 Ok!", 2));
    for (int id : kConfigIds) m_view.SetFieldText(id, "");
    m_dlg->OnBtnConfigRead();
    ASSERT_TRUE(WaitFor("Ok!", 2));
    EXPECT_EQ(Field(IDC_CH1_REF_MAX), "3000");
    EXPECT_EQ(Field(IDC_CH2_DISP_MAX), "65535");
    EXPECT_EQ(Field(IDC_CH2_DISP_MIN), "4464");
    EXPECT_EQ(Field(IDC_CH1_REF_MIN), "819");
}

TEST_F(EndToEnd, AnswerInPiecesIsJoined) {
    Start({"--split", "3"});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!")) << m_sim.Log();
    EXPECT_EQ(Field(IDC_ADC_CH1), std::to_string(AdcValuesOf(m_sim.Log(), 1).ch1));
    EXPECT_EQ(Count(Log(), "Serial Full"), 1);
}

TEST_F(EndToEnd, PiecesFurtherApartThanTheIdleGapNeverMakeAFrame) {
    // 8 bytes, 150 ms (far more than 5 ticks), 8 bytes: the second half is
    // gathered from index 0, does not begin with STX, and is too short for
    // the length the first half announced.
    Start({"--split", "8", "--pause", "150"});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(m_sim.WaitForLog("#1 ", 2000));
    PumpFor(*m_dlg, m_view, 600);
    EXPECT_EQ(Log(), (Entries{"Start!", "Send ADC Read"}));
    EXPECT_EQ(Field(IDC_ADC_CH1), "");
}

TEST_F(EndToEnd, LateAnswerPastTheIdleGapIsStillTaken) {
    Start({"--delay", "120"});
    const auto start = std::chrono::steady_clock::now();
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!")) << m_sim.Log();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
    EXPECT_EQ(Log(),
              (Entries{"Start!", "Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));
}

TEST_F(EndToEnd, GarbageRightBeforeTheAnswerHidesIt) {
    // Garbage (never STX) at index 0: the answer behind it is never a frame.
    Start({"--garbage", "40"});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(m_sim.WaitForLog("#1 ", 2000));
    PumpFor(*m_dlg, m_view, 400);
    EXPECT_EQ(Log(), (Entries{"Start!", "Send ADC Read"}));
}

TEST_F(EndToEnd, GarbageThenAGapThenTheAnswerIsTaken) {
    Start({"--garbage", "40", "--pause", "100"});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!")) << m_sim.Log();
    EXPECT_EQ(Log(),
              (Entries{"Start!", "Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));
}

TEST_F(EndToEnd, FloodOfGarbageStaysBoundedAndTheLinkRecovers) {
    Start({"--garbage", "150000"});
    int32_t most = 0;
    const auto watch = [&] {
        most = std::max(most, m_dlg->Link().m_nRxCount);
        return false;
    };
    for (int i = 0; i < 3; ++i) {
        m_dlg->OnBtnAdcRead();
        Pump(*m_dlg, m_view, watch, 500, watch);
    }
    EXPECT_LE(most, CDeviceLink::kSerialLimit);
    EXPECT_GT(most, 1000) << "the flood arrived";
    EXPECT_EQ(m_view.DroppedPosts(), 0u);
    // Whatever got through was an answer; garbage never makes a frame.
    for (const std::string &e : Log()) {
        EXPECT_TRUE(e == "Start!" || e == "Send ADC Read" || e == "Serial Full" ||
                    e == "CMD_GET_ADC_VALUE" || e == "Ok!")
            << e;
    }

    // The same port on a well-behaved device works at once.
    m_dlg.reset();
    EXPECT_EQ(m_sim.Stop(SIGTERM), 0);
    Start({});
    m_dlg->OnBtnAdcRead();
    EXPECT_TRUE(WaitFor("Ok!")) << m_sim.Log();
}

TEST_F(EndToEnd, AnswerSentTwiceApartIsTakenTwice) {
    Start({"--twice", "--pause", "100"});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!", 2)) << m_sim.Log();
    EXPECT_EQ(Log(), (Entries{"Start!", "Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!",
                              "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"}));
}

TEST_F(EndToEnd, FlippedChecksumIsReportedAndTheValuesShown) {
    Start({"--bad-checksum"});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(WaitFor("Ok!")) << m_sim.Log();
    EXPECT_EQ(Log(), (Entries{"Start!", "Send ADC Read", "Serial Full", "ERROR CRC",
                              "CMD_GET_ADC_VALUE", "Ok!"}));
    EXPECT_EQ(Field(IDC_ADC_CH2), std::to_string(AdcValuesOf(m_sim.Log(), 1).ch2));
}

TEST_F(EndToEnd, SilentDeviceChangesNothing) {
    Start({"--silent"});
    m_dlg->OnBtnConfigRead();
    ASSERT_TRUE(m_sim.WaitForLog("[silent]", 2000));
    PumpFor(*m_dlg, m_view, 300);
    EXPECT_EQ(Log(), (Entries{"Start!", "Send Config Read"}));
    EXPECT_EQ(Field(IDC_CH1_REF_MIN), "");
}
