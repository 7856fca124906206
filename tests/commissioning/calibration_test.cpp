// The calibration's arithmetic, record and procedure: errors in % of span
// worked out by hand, the adjusted range, the record's numbers and its
// escaping, file names that stay in their folder, and the procedure's ends
// (a reading that never settles, a line lost before the write).
#include "calibration.h"

#include <gtest/gtest.h>

#include <clocale>
#include <nlohmann/json.hpp>

#include "fake_portlink.h"
#include "frames.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr ChannelRanges kFactory{819, 4095, 0, 1000};

// A converter that reads 2 % low with a 10-count offset, by hand: 4 mA is
// 819 * 0.98 + 10 = 812.62, read as 813; 20 mA is 4095 * 0.98 + 10 = 4023.1,
// read as 4023. On the factory ranges 813 shows 1000 * (813 - 819) / 3276 =
// -1.83150 (error -0.18315 % of the 1000 span), 4023 shows 978.0220 (-2.1978 %).
TEST(CalibrationRecord, ErrorsInPercentOfSpanAndTheAdjustedRange) {
    const auto low = Evaluate(kFactory, 4, 4, 813, 0.25), high = Evaluate(kFactory, 20, 20, 4023, 0.25);
    ASSERT_TRUE(low && high);
    EXPECT_NEAR(low->display, -1.83150, 1e-4);
    EXPECT_NEAR(low->errorPctSpan, -0.18315, 1e-4);
    EXPECT_TRUE(low->pass);
    EXPECT_NEAR(high->display, 978.0220, 1e-4);
    EXPECT_NEAR(high->errorPctSpan, -2.1978, 1e-4);
    EXPECT_FALSE(high->pass);
    // A display range upwards of 200, and a current applied off the nominal:
    // 12.1 mA should show 200 + 800 * 8.1 / 16 = 605.
    const auto off = Evaluate({800, 4000, 200, 1000}, 12, 12.1, 2400, 0.25);
    EXPECT_NEAR(off->expectedDisplay, 605, 1e-9);
    EXPECT_NEAR(off->errorPctSpan, (600.0 - 605.0) / 800 * 100, 1e-9);
    EXPECT_FALSE(Evaluate({800, 4000, 7, 7}, 12, 12, 2400, 0.25)) << "no span";
    EXPECT_EQ(Verdict({*low, *high}), false);
    EXPECT_EQ(Verdict({*low}), true);
    EXPECT_FALSE(Verdict({}));

    // The line through the as-found points, at 4 and 20 mA, the display range kept.
    const auto adjusted = AdjustedRanges({*low, *high}, kFactory);
    ASSERT_TRUE(adjusted);
    EXPECT_EQ(adjusted->refMin, 813);
    EXPECT_EQ(adjusted->refMax, 4023);
    EXPECT_EQ(adjusted->dispMax, 1000);
    // Least squares, not the end points: counts 1000, 2010, 2990 at 4, 12, 20
    // mA have the slope (8 * 1000 + 8 * 990) / 128 = 124.375 counts a mA
    // through the mean 2000 at 12 mA: 1005 at 4 mA, 2995 at 20 mA.
    std::vector<CalPoint> three(3);
    for (int i = 0; i < 3; ++i) three[i].appliedMa = 4 + 8 * i;
    three[0].adc = 1000, three[1].adc = 2010, three[2].adc = 2990;
    EXPECT_EQ(AdjustedRanges(three, kFactory)->refMin, 1005);
    EXPECT_EQ(AdjustedRanges(three, kFactory)->refMax, 2995);
    EXPECT_FALSE(AdjustedRanges({*low}, kFactory)) << "one point gives no line";
    const ConfigValues before{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(WithChannel(before, 2, *adjusted), (ConfigValues{1, 2, 3, 4, 813, 4023, 0, 1000}));
    EXPECT_EQ(WithChannel(before, 1, *adjusted), (ConfigValues{813, 4023, 0, 1000, 5, 6, 7, 8}));
}

TEST(CalibrationRecord, PointListsAndTypedCurrents) {
    std::string error;
    EXPECT_EQ(ParsePoints("4,8,12,16,20", error), (std::vector<double>{4, 8, 12, 16, 20}));
    EXPECT_EQ(ParsePoints("20,3.6,21", error), (std::vector<double>{20, 3.6, 21}));
    for (const char *bad : {"3.59", "21.01", "4,4", "4,,8", "4,8,", "", "4mA", "nan"}) {
        EXPECT_TRUE(ParsePoints(bad, error).empty()) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    double applied = 0;
    EXPECT_TRUE(ParseApplied(" \r\n", 8, &applied, error));
    EXPECT_EQ(applied, 8);
    EXPECT_TRUE(ParseApplied("8.997", 8, &applied, error));
    EXPECT_EQ(applied, 8.997);
    EXPECT_FALSE(ParseApplied("9.001", 8, &applied, error)) << "more than 1 mA off";
    EXPECT_FALSE(ParseApplied("8,1", 8, &applied, error));
    EXPECT_FALSE(ParseApplied("x", 8, &applied, error));
}

TEST(CalibrationRecord, JsonNumbersHtmlEscapingAndNamesThatStayInTheirFolder) {
    CalRecord r;
    r.tag = "FT<1>&\"x\"";
    r.operatorName = "<script>alert(1)</script>";
    r.channel = 2;
    r.time = "2026-12-07T17:05:26+09:00";
    r.configBefore = {1, 2, 3, 4, 819, 4095, 0, 1000};
    r.asFound = {*Evaluate(kFactory, 4, 4, 813, 0.25), *Evaluate(kFactory, 20, 20, 4023, 0.25)};
    r.passAsFound = false;
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    const auto j = nlohmann::json::parse(RecordJson(r));
    const std::string html = RecordHtml(r);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(j["verdict_as_found"], "fail");
    EXPECT_FALSE(j.contains("verdict_as_left"));
    EXPECT_EQ(j["as_found"][1]["error_pct_span"], -2.198);
    EXPECT_EQ(j["as_found"][0]["display"], -1.832);
    EXPECT_EQ(j["as_found"][0]["pass"], true);
    EXPECT_EQ(j["config_before"]["ch2"]["ref_max"], 4095);
    EXPECT_EQ(j["time"], "2026-12-07T17:05:26+09:00");
    EXPECT_NE(html.find("-2.198"), std::string::npos) << (comma ? "under a comma locale" : "");
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_NE(html.find("FT&lt;1&gt;&amp;&quot;x&quot;"), std::string::npos);

    const std::pair<std::string, std::string> names[] = {
        {"../x", "___x"}, {"a/b\\c", "a_b_c"}, {"CON", "_CON"}, {"com1", "_com1"},
        {"COM10", "COM10"}, {std::string("a\0b", 3), "a_b"}, {"", "device"}};
    for (const auto &[tag, name] : names) {
        r.tag = tag;
        EXPECT_EQ(RecordBaseName(r), name + "_CH2_20261207-170526") << tag;
    }
}

// The procedure on a recording portlink whose device reads whatever counts
// the test sets, on a clock the test moves.
int64_t g_now = 0;
int64_t FakeNow() {
    return g_now;
}

struct Host : ISessionHost {
    PortlinkWindow window{};
    void ShowWarning(const std::string &) override {}
    void ShowError(const std::string &, const std::string &) override {}
    PortlinkWindow *PortWindow() override { return &window; }
    void StartTicks(unsigned) override {}
    void StopTicks() override {}
};

class CalibrationRun : public ::testing::Test {
protected:
    void SetUp() override {
        Fake() = {};
        g_now = 1000;
        // Each request answered at once, as the device would.
        Fake().onWrite = [this] {
            const Bytes &w = Fake().written;
            Bytes a;
            if (w[kOffsetCommand] == CMD_GET_ADC_VALUE) {
                a = {2, 0, 16, 0x2B, 0, 0xAA, 2, 0, 0, 0, 0, 0, 0, 0, 0, 3};
                WriteBe16(a.data(), kAdcOffsetCh1, counts), WriteBe16(a.data(), kAdcOffsetCh2, 7);
            } else if (w[kOffsetCommand] == CMD_GET_CONFIG_DATA) {
                a = Bytes(26, 0);
                a[0] = 2, a[2] = 26, a[3] = 0x3B, a[5] = 0xAA, a[25] = 3;
                for (size_t i = 0; i < 8; ++i) WriteBe16(a.data(), 6 + 2 * i, config[i]);
            } else {
                writes++;
                return;  // a write is never answered here
            }
            a[a.size() - 2] = XorChecksum(a.data(), a.size() - 2);
            Fake().chunks.push_back(a);
        };
        session.UseSerial(1);
        session.Open();
    }
    // ms on, a tick every 10 ms with what arrived delivered.
    void Run(int64_t ms) {
        for (int64_t t = 0; t < ms; t += 10) {
            g_now += 10;
            if (!Fake().chunks.empty()) session.OnPortMessage(PORTLINK_WM_PORT_NOTIFY, 1, 1);
            session.Tick();
            cal.Tick();
        }
    }

    Host host;
    CDeviceSession session{host, FakePortlinkApi(), &FakeNow};
    CCalibration cal{session};
    uint16_t counts = 813;
    int writes = 0;
    ConfigValues config{819, 4095, 0, 1000, 819, 4095, 0, 2000};
};

TEST_F(CalibrationRun, AReadingThatNeverSettlesFailsItsPointAndALostLineWritesNothing) {
    CalSettings s;
    s.points = {4, 20};
    s.steadySeconds = 1;
    s.pointTimeoutSeconds = 3;
    s.adjustWhenFailing = true;
    std::string error;
    ASSERT_TRUE(cal.Start(s, error)) << error;
    Run(100);
    ASSERT_EQ(cal.CurrentStep(), CCalibration::Step::AwaitingSource);
    cal.SourceApplied(4);
    Run(1200);
    ASSERT_EQ(cal.Record().asFound.size(), 1u) << "steady after its window";
    EXPECT_NEAR(cal.Record().asFound[0].adc, 813, 1e-9);
    const int64_t applied = g_now;
    cal.SourceApplied(20.02);
    for (int i = 0; i < 50 && cal.Record().asFound.size() < 2; ++i) {
        counts = static_cast<uint16_t>(4000 + (i % 2) * 10);  // 10 counts apart, never steady
        Run(100);
    }
    ASSERT_EQ(cal.Record().asFound.size(), 2u);
    const CalPoint &unsteady = cal.Record().asFound[1];
    EXPECT_FALSE(unsteady.steady);
    EXPECT_FALSE(unsteady.pass);
    EXPECT_EQ(unsteady.appliedMa, 20.02);
    EXPECT_GE(g_now - applied, 3000) << "given its whole time-out";

    // As found failed: the adjusted range goes out, unanswered here. Start
    // again (the configuration read waits for that write's time-out) and
    // lose the line before the write.
    ASSERT_TRUE(cal.Start(s, error)) << error;
    Run(2500);
    ASSERT_EQ(cal.CurrentStep(), CCalibration::Step::AwaitingSource);
    cal.SourceApplied(4);
    Fake().readcomResult = 999;
    Fake().chunks.push_back({});
    Run(200);
    EXPECT_EQ(cal.CurrentStep(), CCalibration::Step::Stopped);
    EXPECT_EQ(cal.Cause(), CCalibration::StopCause::LineLost);
    EXPECT_FALSE(cal.Record().complete);
    EXPECT_EQ(writes, 1) << "only the first run's write";
}

}  // namespace
