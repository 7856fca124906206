// The derived values (formulas at and beyond the range ends, the 4-20 mA
// signal levels) and configuration files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config_file.h"
#include "loop_values.h"
#include "machine_text.h"

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
    // 3.79973 mA is shown as 3.800 mA, and judged as shown.
    EXPECT_EQ(Derive({1000, 61000, 0, 100}, 249)->level, LoopLevel::Normal);
    EXPECT_EQ(Derive({1000, 61000, 0, 100}, 248)->level, LoopLevel::OutOfRange);
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
        {R"({"ch1":{"ref_min":1,"ref_max":2,"ref_min":3}})", "the key \"ref_min\" appears twice"},
        {R"({"ch2":{},"ch1":{},"ch2":{}})", "the key \"ch2\" appears twice"},
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
    // A field's text as a file's value: the whole 16 bits, nothing beyond.
    EXPECT_EQ(WholeWord(" 65535 "), 65535);
    EXPECT_FALSE(WholeWord("65536"));
    // CSV: a field with a comma or a quote is quoted, its quotes doubled.
    EXPECT_EQ(CsvField("no answer"), "no answer");
    EXPECT_EQ(CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
    ConfigValues other = v;
    other[1] = 1, other[7] = 7;
    EXPECT_EQ(DifferingFields(v, other), "ch1.ref_max, ch2.disp_max");
    EXPECT_EQ(DifferingFields(v, v), "");

    // A file far larger than any configuration is refused unread.
    const std::string big = (std::filesystem::temp_directory_path() / "loopset-big-config.json").string();
    std::ofstream(big) << ConfigJson(v);
    std::filesystem::resize_file(big, 2 << 20);
    EXPECT_FALSE(LoadConfigFile(big, error));
    EXPECT_EQ(error, big + ": too large for a configuration file (over 1 MB)");
    std::filesystem::resize_file(big, ConfigJson(v).size());
    EXPECT_EQ(LoadConfigFile(big, error), v) << error;
    std::filesystem::remove(big);
}

}  // namespace
