// The live view over the dialog, its device session and a recording portlink,
// on a clock the tests move: its schedule, its fresh starts, what a lost line
// does, the capture and its window, the hold, and its CSV in any locale.
#include "live_view.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>

#include "config_commands.h"
#include "fake_portlink.h"
#include "fake_view.h"
#include "frames.h"
#include "live_presenter.h"

namespace {

using Bytes = std::vector<uint8_t>;

int64_t g_now = 0;
int64_t FakeNow() {
    return g_now;
}

Bytes AdcAnswer(uint16_t ch1, uint16_t ch2) {
    Bytes f = {2, 0, 16, 0x2B, 0, 0xAA, 2, 0, 0, 0, 0, 0, 0, 9, 0, 3};
    WriteBe16(f.data(), kAdcOffsetCh1, ch1);
    WriteBe16(f.data(), kAdcOffsetCh2, ch2);
    f[14] = XorChecksum(f.data(), 14);
    return f;
}

class LiveViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake() = {};
        g_now = 1000000;
        dlg.Session().SetClock(&FakeNow);
        dlg.OnInitDialog();
    }
    size_t Requests() const {
        return static_cast<size_t>(std::count(Fake().calls.begin(), Fake().calls.end(), "writecom(1,8)"));
    }
    // ms later, with the ticks the window's timer gives and an answer to
    // what is out, when there is one.
    void Run(int64_t ms, uint16_t ch1, uint16_t ch2, bool answer = true) {
        for (int64_t t = 0; t < ms; t += 10) {
            g_now += 10;
            const size_t before = Requests();
            live.Tick();
            if (answer && Requests() > before) {
                Fake().chunks.push_back(AdcAnswer(ch1, ch2));
                dlg.PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, 1});
            }
            dlg.OnTimer(0);
        }
    }

    FakeView view;
    CLoopsetDlg dlg{view, "/nonexistent/loopset-live-test/config.ini", FakePortlinkApi()};
    CLiveView live{dlg};
};

TEST_F(LiveViewTest, SamplesOnScheduleOneAtATimeAndEveryStartBeginsAfresh) {
    live.SetRate(10);
    live.Start();
    Run(1000, 1000, 2000);
    EXPECT_EQ(Requests(), 10u);
    EXPECT_EQ(live.Model().Size(), 10u);
    EXPECT_EQ(view.fields[IDC_ADC_CH2], "2000") << "the dialog's fields show the samples";
    // No ranges yet: raw values; a configuration read meanwhile gives mA.
    const CLivePresenter presenter(live);
    EXPECT_EQ(presenter.ValueText(1), "CH.2   2000");
    Bytes config = {2, 0, 26, 0x3B, 0, 0xAA, 3, 51, 15, 255, 0, 0, 3, 232, 3, 51, 15, 255, 0, 0, 7, 208, 0, 1, 0, 3};
    config[24] = XorChecksum(config.data(), 24);
    Fake().chunks.push_back(config);
    dlg.PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, 1});
    dlg.OnTimer(0);
    Run(100, 1000, 2000);
    // 4 + 16 * (2000 - 819) / 3276 = 9.768 mA; 2000 * 1181 / 3276 = 721.0.
    EXPECT_EQ(presenter.ValueText(1), "CH.2   2000   9.768 mA   721.0");
    // No answer: the request is given up after its second, and the next one
    // waits for the line to be quiet as long again.
    Run(2500, 0, 0, false);
    EXPECT_EQ(Requests(), 13u);
    EXPECT_EQ(live.Model().Failures(), 1u);
    live.Stop();
    // Open again long after: the first request goes at once, on nothing old.
    Run(60000, 0, 0, false);
    live.Start();
    Run(10, 1500, 2500);
    EXPECT_EQ(Requests(), 14u);
    EXPECT_EQ(live.Model().Size(), 1u);
    EXPECT_EQ(live.Model().Failures(), 0u);
    EXPECT_EQ(live.Model().Stats(0).Mean(), 1500);
    const std::string log = view.logText;
    EXPECT_NE(log.find("Live View Error: no answer within 1000 ms"), std::string::npos) << log;
    EXPECT_EQ(log.find("Send ADC Read"), std::string::npos) << "samples leave no line each";
}

TEST_F(LiveViewTest, CaptureWantsTwoSteadySecondsAndFillsItsOwnChannelsField) {
    live.SetRate(10);
    live.Start();
    Run(1500, 1000, 3000);
    EXPECT_FALSE(live.Capture(0, false).mean) << "1.5 s since the start";
    EXPECT_NE(CLivePresenter(live).CaptureProblem(live.Capture(0, false)).find("Only 1.5 s"), std::string::npos);
    Run(1000, 1000, 3000);
    // A new current on CH.1 only: its capture starts over, CH.2's does not.
    Run(500, 2000, 3000);
    EXPECT_FALSE(live.Capture(0, true).mean);
    ASSERT_TRUE(live.Capture(1, false).mean);
    Run(2000, 2000, 3000);
    ASSERT_TRUE(live.Capture(0, true).mean);
    EXPECT_EQ(view.fields[IDC_CH1_REF_MAX], "2000");
    EXPECT_EQ(view.fields[IDC_CH2_REF_MIN], "3000");
    EXPECT_EQ(view.fields.count(IDC_CH1_REF_MIN) + view.fields.count(IDC_CH2_REF_MAX), 0u);
    // A step of 41 counts is noise, not a change: the window spans it, and the
    // mean is of the last two seconds only.
    Run(1000, 2000, 3041);
    ASSERT_TRUE(live.Capture(1, true).mean);
    EXPECT_EQ(view.fields[IDC_CH2_REF_MAX], "3021");
    // Pausing and resuming starts the window afresh too.
    live.SetPaused(true);
    Run(500, 2000, 3000);
    live.SetPaused(false);
    Run(500, 2000, 3000);
    EXPECT_FALSE(live.Capture(1, true).mean);
}

TEST_F(LiveViewTest, ALostLinePausesAndResumeOpensItAgain) {
    live.Start();
    Run(300, 1000, 2000);
    Fake().readcomResult = 999;
    Run(300, 1000, 2000);
    EXPECT_TRUE(live.Model().Paused());
    EXPECT_NE(view.logText.find("Live View Error: readcom answered 999 (the port hung up); paused"),
              std::string::npos) << view.logText;
    const auto opens = [] { return std::count(Fake().calls.begin(), Fake().calls.end(), "opencom(1)"); };
    const auto before = opens();
    Fake().readcomResult = 0;
    live.SetPaused(false);
    EXPECT_EQ(opens(), before + 1);
    Run(300, 1200, 2000);
    EXPECT_FALSE(live.Model().Paused());
    EXPECT_EQ(view.fields[IDC_ADC_CH1], "1200");
}

// Five minutes at every rate; a comma locale changes no CSV number.
TEST(LiveViewModel, HoldsFiveMinutesAtAnyRateAndWritesCsvWithADecimalPoint) {
    for (int rate : {1, 20}) {
        CLiveViewModel m;
        m.SetRate(rate);
        for (int i = 0; i < 400 * rate; ++i) m.OnAnswer(double(i) / rate, 1, 1);
        EXPECT_NEAR(m.At(m.Size() - 1).seconds - m.At(0).seconds, 300, 1.0 / rate + 1e-6) << rate;
    }
    CLiveViewModel m;
    m.OnAnswer(0.25, 1000, 7);
    m.SetRanges(RangesOf({819, 4095, 0, 1000, 0, 0, 0, 0}));
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const std::string csv = m.Csv();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(csv, "time_s,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display\n"
                   "0.250,1000,4.884,55.250,7,,\n");
    if (!comma) GTEST_SKIP() << "no decimal-comma locale to try (LOCPATH)";
}

}  // namespace
