// The dialog on loopctl's console view and loop, with the real link and
// portlink, against loopsim (a separate process) over a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config_fields.h"
#include "console_view.h"
#include "frames.h"
#include "portlink.h"
#include "settings.h"
#include "sim_process.h"

namespace {

constexpr int kPort = 7;
using Entries = std::vector<std::string>;
const Entries kAdcOk{"Start!", "Send ADC Read", "Serial Full", "CMD_GET_ADC_VALUE", "Ok!"};

// How the request went over the wire, as loopsim logs it: "#n [02 00 ...] ".
template <typename Frame>
std::string Wire(int n, const Frame &f) {
    std::string text = "#" + std::to_string(n) + " [";
    char b[4];
    for (size_t i = 0; i < f.size(); ++i) text += (snprintf(b, sizeof b, "%02X ", f[i]), b);
    text.back() = ']';
    return text;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteComPort(m_ini, kPort)); }
    void TearDown() override {
        Finish();
        unlink(m_ini.c_str());
    }

    void Start(const std::vector<std::string> &args) {
        ASSERT_TRUE(m_sim.Start(LOOPSIM_PATH, args)) << m_sim.Log();
        setenv("PORTLINK_COM7", m_sim.Path().c_str(), 1);
        m_logStream = open_memstream(&m_logText, &m_logSize);
        m_view = std::make_unique<ConsoleView>(m_logStream);
        m_dlg = std::make_unique<CLoopsetDlg>(*m_view, m_ini);
        m_view->Attach(m_dlg.get());
        ASSERT_TRUE(m_dlg->OnInitDialog());
        ASSERT_TRUE(m_view->Boxes().empty()) << m_view->Boxes()[0];
    }
    void Finish() {
        m_dlg.reset();
        initcom(nullptr);  // portlink keeps the window pointer it was given
        m_view.reset();
        if (m_logStream) fclose(std::exchange(m_logStream, nullptr));
        free(std::exchange(m_logText, nullptr));
        if (m_sim.Pid() > 0) {
            EXPECT_EQ(m_sim.Stop(SIGTERM), 0) << m_sim.Log();
        }
    }

    // Runs the loop until done() holds after a timer tick, or timeoutMs passed.
    template <typename Done>
    bool Pump(Done done, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            EXPECT_TRUE(m_view->RunOnce(static_cast<int>(std::min<int64_t>(left.count(), 50))));
        }
        return true;
    }
    bool PumpUntilLog(const Entries &expected) {
        return Pump([&] { return Log() == expected; }, 3000);
    }
    // The logged entries without their time stamps ("<date> <time>\t<text>").
    Entries Log() const {
        Entries entries;
        std::istringstream lines(m_logText ? std::string(m_logText, m_logSize) : "");
        for (std::string line; std::getline(lines, line);)
            entries.push_back(line.substr(line.find('\t') + 1));
        return entries;
    }
    std::string Field(int id) const { return m_view->GetFieldText(id); }
    // The fields show what loopsim logged for its first answer.
    bool ShowsFirstAnswer() const {
        return m_sim.Log().find(Wire(1, BuildAdcReadFrame()) + " CMD_GET_ADC_VALUE: ch1 " +
                                Field(IDC_ADC_CH1) + " ch2 " + Field(IDC_ADC_CH2) + " extra " +
                                Field(IDC_EXTRA_VALUE)) != std::string::npos;
    }

    CSimProcess m_sim;
    char *m_logText = nullptr;
    size_t m_logSize = 0;
    FILE *m_logStream = nullptr;
    std::unique_ptr<ConsoleView> m_view;
    std::unique_ptr<CLoopsetDlg> m_dlg;
    const std::string m_ini = "/tmp/loopset-e2e-" + std::to_string(getpid()) + ".ini";
};

}  // namespace

TEST_F(EndToEnd, ReadAdcThenReadConfigAndWriteItBack) {
    Start({});
    m_dlg->OnBtnAdcRead();
    ASSERT_TRUE(PumpUntilLog(kAdcOk)) << m_sim.Log();
    EXPECT_TRUE(ShowsFirstAnswer()) << m_sim.Log();

    m_dlg->OnBtnConfigRead();
    Entries expected = kAdcOk;
    expected.insert(expected.end(),
                    {"Send Config Read", "Serial Full", "CMD_GET_CONFIG_DATA", "Ok!"});
    ASSERT_TRUE(PumpUntilLog(expected)) << m_sim.Log();
    const ConfigValues factory{819, 4095, 0, 1000, 819, 4095, 0, 2000};
    for (size_t i = 0; i < kConfigValueCount; ++i)
        EXPECT_EQ(Field(kConfigFieldTable[i].id), std::to_string(factory[i]));

    m_dlg->OnBtnConfigWrite();
    expected.insert(expected.end(),
                    {"Send Config Write", "Serial Full", "CMD_SET_CONFIG_DATA", "CRC16 Ok!"});
    ASSERT_TRUE(PumpUntilLog(expected)) << m_sim.Log();
    // With the answer in, the window goes back to sleep.
    Pump([] { return false; }, 50);
    EXPECT_FALSE(m_view->TimerRunning());

    // The wire carried exactly the program's frames.
    const std::string wrote = Wire(3, BuildConfigWriteFrame(factory));
    EXPECT_NE(m_sim.Log().find(wrote + " CMD_SET_CONFIG_DATA: CRC16 ok"), std::string::npos);
}

TEST_F(EndToEnd, MisbehavingDeviceGivesThePredictedLog) {
    const Entries none{"Start!", "Send ADC Read"};
    Entries twice = kAdcOk;
    twice.insert(twice.end(), {"Serial Full", "CMD_GET_ADC_VALUE", "Ok!"});
    struct Case {
        std::vector<std::string> args;
        Entries log;
        int atLeastMs;
    } cases[] = {
        {{"--split", "3"}, kAdcOk, 0},
        // 8 bytes, 150 ms (far past the 5-tick idle gap), 8 bytes: the second
        // half starts over at index 0 without STX and is never a frame.
        {{"--split", "8", "--pause", "150"}, none, 0},
        {{"--delay", "120"}, kAdcOk, 120},  // late, but one piece: still taken
        // Garbage (never STX) at index 0 hides the answer in the same write...
        {{"--garbage", "40"}, none, 0},
        // ...but not one sent after a gap.
        {{"--garbage", "40", "--pause", "100"}, kAdcOk, 100},
        {{"--twice", "--pause", "100"}, twice, 100},
        {{"--bad-checksum"},
         {"Start!", "Send ADC Read", "Serial Full", "ERROR CRC", "CMD_GET_ADC_VALUE", "Ok!"},
         0},
        {{"--silent"}, none, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 2 ? " " + c.args[2] : ""));
        Start(c.args);
        const auto start = std::chrono::steady_clock::now();
        m_dlg->OnBtnAdcRead();
        ASSERT_TRUE(m_sim.WaitForLog("#1 ", 2000));
        if (c.log != none) {
            EXPECT_TRUE(PumpUntilLog(c.log)) << m_sim.Log();
            EXPECT_GE(std::chrono::steady_clock::now() - start,
                      std::chrono::milliseconds(c.atLeastMs));
            EXPECT_TRUE(ShowsFirstAnswer()) << m_sim.Log();
        }
        Pump([] { return false; }, c.log != none ? 100 : 500);
        EXPECT_EQ(Log(), c.log);
        Finish();
    }
}
