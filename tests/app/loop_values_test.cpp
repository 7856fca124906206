// The derived values and the live view's model: formulas at and beyond the
// range ends, the 4-20 mA signal levels, the polling schedule, the capture's
// mean and the samples kept.
#include <gtest/gtest.h>

#include "config_file.h"
#include "live_view_model.h"

namespace {

constexpr ChannelRanges kDefault{819, 4095, 0, 1000};

TEST(LoopValues, CurrentAndDisplayAtAndBeyondTheRangeEndsAndNoneForAnEmptyRange) {
    // adc, mA, display: the ends, the middle, below and above the range.
    const std::tuple<uint16_t, double, double> cases[] = {
        {819, 4.0, 0.0}, {4095, 20.0, 1000.0}, {2457, 12.0, 500.0}, {0, 0.0, -250.0},
        {4914, 24.0, 1250.0}};
    for (const auto &[adc, mA, display] : cases) {
        const auto v = Derive(kDefault, adc);
        ASSERT_TRUE(v) << adc;
        EXPECT_NEAR(v->milliamps, mA, 1e-9) << adc;
        EXPECT_NEAR(v->display, display, 1e-9) << adc;
    }
    // A display range that falls, and a reference range configured downwards.
    EXPECT_NEAR(Derive({819, 4095, 1000, 0}, 4095)->display, 0.0, 1e-9);
    EXPECT_NEAR(Derive({4095, 819, 0, 100}, 819)->milliamps, 20.0, 1e-9);
    EXPECT_FALSE(Derive({2000, 2000, 0, 100}, 2000));
}

TEST(LoopValues, SignalLevelsAtTheirBounds) {
    const std::pair<double, LoopLevel> cases[] = {
        {3.59, LoopLevel::Failure},  {3.6, LoopLevel::OutOfRange}, {3.79, LoopLevel::OutOfRange},
        {3.8, LoopLevel::Normal},    {20.5, LoopLevel::Normal},    {20.51, LoopLevel::OutOfRange},
        {21.0, LoopLevel::OutOfRange}, {21.01, LoopLevel::Failure}};
    for (const auto &[mA, level] : cases) EXPECT_EQ(LevelOf(mA), level) << mA;
    EXPECT_EQ(Derive(kDefault, 0)->level, LoopLevel::Failure);
}

TEST(LiveViewModel, OneRequestAtATimeOnScheduleAndAnUnansweredOneFails) {
    CLiveViewModel m;
    m.SetRate(50);
    EXPECT_EQ(m.Rate(), CLiveViewModel::kMaxRate);
    m.SetRate(10);
    ASSERT_TRUE(m.Due(0));
    m.OnSent(0);
    EXPECT_FALSE(m.Due(0.5)) << "one request in flight at a time";
    m.OnAnswer(0.05, 1, 2);
    EXPECT_FALSE(m.Due(0.09));
    EXPECT_TRUE(m.Due(0.1));
    m.OnSent(0.1);
    EXPECT_FALSE(m.Expired(1.09));
    EXPECT_TRUE(m.Expired(1.1));
    EXPECT_FALSE(m.Expired(1.2)) << "counted once";
    EXPECT_EQ(m.Failures(), 1u);
    m.SetPaused(true);
    EXPECT_FALSE(m.Due(5));
    m.SetPaused(false);
    EXPECT_TRUE(m.Due(5));
}

TEST(LiveViewModel, CaptureMeanStatisticsCsvAndAFixedHold) {
    CLiveViewModel m;
    EXPECT_FALSE(m.CaptureMean(0, 10));
    // Ten readings a second for 4 s: 1000 until 2 s, then 2000 and 3000 in turn.
    for (int i = 0; i < 40; ++i) {
        const double t = i / 10.0;
        m.OnAnswer(t, uint16_t(t < 2 ? 1000 : 2000 + 1000 * (i % 2)), 7);
    }
    EXPECT_NEAR(*m.CaptureMean(0, 3.95), 2500, 1e-9) << "the last 2 s only";
    EXPECT_NEAR(*m.CaptureMean(1, 3.95), 7, 1e-9);
    EXPECT_NEAR(m.Stats(0).Mean(), 1750, 1e-9);
    EXPECT_EQ(m.Stats(0).Min(), 1000);
    EXPECT_EQ(m.Stats(0).Max(), 3000);
    EXPECT_NEAR(m.Stats(1).StdDev(), 0, 1e-9);

    m.SetRanges(RangesOf({819, 4095, 0, 1000, 0, 0, 0, 0}));
    const std::string csv = m.Csv();
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "time_s,ch1_adc,ch1_mA,ch1_display,ch2_adc,ch2_mA,ch2_display");
    EXPECT_NE(csv.find("\n0.000,1000,4.884,55.250,7,,\n"), std::string::npos) << csv;

    for (size_t i = 0; i < CLiveViewModel::kCapacity + 5; ++i) m.OnAnswer(10.0 + i, 1, 1);
    EXPECT_EQ(m.Size(), CLiveViewModel::kCapacity);
    EXPECT_EQ(m.At(0).seconds, 15.0) << "the oldest go first";
    EXPECT_EQ(m.Stats(0).Count(), 40 + CLiveViewModel::kCapacity + 5);
    EXPECT_EQ(m.TrendSeconds(), 120.0);
    EXPECT_EQ(CLiveViewModel().TrendSeconds(), 30.0);
}

}  // namespace

namespace {

TEST(ConfigFile, RoundTripLoopctlsObjectAndBadFilesNamingTheValueAtFault) {
    const ConfigValues v{819, 4095, 0, 1000, 800, 4000, 5, 2000};
    std::string error;
    EXPECT_EQ(ParseConfigJson(ConfigJson(v), error), v) << error;
    // What loopctl --json config-read prints, other keys and all.
    const std::string printed =
        R"({"port":3,"command":"config-read","result":"Ok!","ch1":{"ref_min":819,"ref_max":4095,)"
        R"("disp_min":0,"disp_max":1000},"ch2":{"ref_min":800,"ref_max":4000,"disp_min":5,)"
        R"("disp_max":2000},"extra":2})";
    EXPECT_EQ(ParseConfigJson(printed, error), v) << error;
    const std::pair<std::string, std::string> bad[] = {
        {"", "not a JSON object"},
        {"[1,2]", "not a JSON object"},
        {R"({"ch1":{"ref_min":1}})", "no ch1.ref_max"},
        {R"({"ch1":5})", "no ch1.ref_min"},
    };
    for (const auto &[text, why] : bad) {
        EXPECT_FALSE(ParseConfigJson(text, error)) << text;
        EXPECT_EQ(error, why) << text;
    }
    std::string text = ConfigJson(v);
    for (const char *value : {"65536", "-1", "800.5", "\"800\"", "null"}) {
        std::string changed = text;
        changed.replace(changed.find("4000"), 4, value);
        EXPECT_FALSE(ParseConfigJson(changed, error)) << value;
        EXPECT_EQ(error, "ch2.ref_max is not a whole number from 0 to 65535") << value;
    }
    ConfigValues other = v;
    other[1] = 1, other[7] = 7;
    EXPECT_EQ(DifferingFields(v, other), "ch1.ref_max, ch2.disp_max");
    EXPECT_EQ(DifferingFields(v, v), "");
}

}  // namespace
