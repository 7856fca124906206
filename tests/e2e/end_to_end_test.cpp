// The dialog on a real message loop (loopctl's), with the real session, link
// and portlink, against loopsim (a separate process) over a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "config_fields.h"
#include "console_loop.h"
#include "fake_view.h"
#include "frames.h"
#include "loopset_dlg.h"
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

// The in-memory window with a real loop under it: portlink's listener posts
// into it, and its timer is the loop's.
struct LoopView : FakeView {
    CConsoleLoop loop{&LoopView::Post, this};
    std::mutex lock;
    std::deque<WindowMessage> posted;

    static void Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam) {
        auto *self = static_cast<LoopView *>(context);
        {
            std::lock_guard guard(self->lock);
            self->posted.push_back({message, wParam, lParam});
        }
        self->loop.Wake();
    }
    void StartTimer(unsigned id, unsigned ms, unsigned first) override {
        FakeView::StartTimer(id, ms, first);
        loop.StartTimer(first, ms);
    }
    void StopTimer(unsigned id) override {
        FakeView::StopTimer(id);
        loop.StopTimer();
    }
    PortlinkWindow *PortWindow() override { return loop.PortWindow(); }
    void RunOnce(CLoopsetDlg &dlg, int ms) {
        const unsigned ready = loop.Wait(ms);
        for (;;) {
            WindowMessage msg;
            {
                std::lock_guard guard(lock);
                if (posted.empty()) break;
                msg = posted.front();
                posted.pop_front();
            }
            dlg.PreTranslateMessage(msg);
        }
        if ((ready & CConsoleLoop::kTimer) && timerRunning) dlg.OnTimer(0);
    }
};

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
        m_view = std::make_unique<LoopView>();
        m_dlg = std::make_unique<CLoopsetDlg>(*m_view, m_ini);
        ASSERT_TRUE(m_dlg->OnInitDialog());
        ASSERT_TRUE(m_view->warnings.empty()) << m_view->warnings[0];
    }
    void Finish() {
        m_dlg.reset();
        initcom(nullptr);  // portlink keeps the window pointer it was given
        m_view.reset();
        if (m_sim.Pid() > 0) {
            EXPECT_EQ(m_sim.Stop(SIGTERM), 0) << m_sim.Log();
        }
    }

    // Runs the loop until done() holds, or timeoutMs passed.
    template <typename Done>
    bool Pump(Done done, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            m_view->RunOnce(*m_dlg, static_cast<int>(std::min<int64_t>(left.count(), 50)));
        }
        return true;
    }
    bool PumpUntilLog(const Entries &expected) {
        return Pump([&] { return Log() == expected; }, 3000);
    }
    // The logged entries without their time stamps ("\r\n<date> <time>\t<text>").
    Entries Log() const {
        Entries entries;
        const std::string &text = m_view->logText;
        for (size_t at = text.find('\t'); at != std::string::npos; at = text.find('\t', at + 1))
            entries.push_back(text.substr(at + 1, text.find("\r\n", at) - at - 1));
        return entries;
    }
    std::string Field(int id) const { return m_view->fields[id]; }
    // The fields show what loopsim logged for its first answer.
    bool ShowsFirstAnswer() const {
        return m_sim.Log().find(Wire(1, BuildAdcReadFrame()) + " CMD_GET_ADC_VALUE: ch1 " +
                                Field(IDC_ADC_CH1) + " ch2 " + Field(IDC_ADC_CH2) + " extra " +
                                Field(IDC_EXTRA_VALUE)) != std::string::npos;
    }

    CSimProcess m_sim;
    std::unique_ptr<LoopView> m_view;
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
        EXPECT_EQ(Field(kConfigFieldIds[i]), std::to_string(factory[i]));

    m_dlg->OnBtnConfigWrite();
    expected.insert(expected.end(),
                    {"Send Config Write", "Serial Full", "CMD_SET_CONFIG_DATA", "CRC16 Ok!"});
    ASSERT_TRUE(PumpUntilLog(expected)) << m_sim.Log();
    // With the answer in, the window goes back to sleep.
    Pump([] { return false; }, 50);
    EXPECT_FALSE(m_view->timerRunning);

    // The wire carried exactly the program's frames.
    const std::string wrote = Wire(3, BuildConfigWriteFrame(factory));
    EXPECT_NE(m_sim.Log().find(wrote + " CMD_SET_CONFIG_DATA: CRC16 ok"), std::string::npos);
}

TEST_F(EndToEnd, MisbehavingDeviceGivesThePredictedLog) {
    const Entries none{"Start!", "Send ADC Read"};
    Entries twice = kAdcOk;
    twice.insert(twice.end(), {"Serial Full", "CMD_GET_ADC_VALUE", "Ok!"});
    Entries garbage = kAdcOk;
    garbage.insert(garbage.begin() + 2, "Dropped 40 bytes that made no answer");
    struct Case {
        std::vector<std::string> args;
        Entries log;
        int atLeastMs;
    } cases[] = {
        {{"--split", "3"}, kAdcOk, 0},
        // Far past the 5-tick idle gap, as a USB adapter's latency timer
        // splits answers: the first piece can start the answer, so it waits.
        {{"--split", "8", "--pause", "150"}, kAdcOk, 150},
        {{"--delay", "120"}, kAdcOk, 120},  // late, but within the time-out
        // Garbage (never STX) before the answer goes, with a word in the log,
        // in the same write or before a pause.
        {{"--garbage", "40"}, garbage, 0},
        {{"--garbage", "40", "--pause", "100"}, garbage, 100},
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
