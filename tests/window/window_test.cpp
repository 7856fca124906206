// The main window on each system, through CWindowDriver: its controls against
// the template's table, its keys and port selector, its message boxes, one
// exchange with the simulated device with the live view after it,
// configuration files, a calibration run through its window, and the
// windows' language.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <random>
#include <thread>
#include <tuple>

#include "config_fields.h"
#include "config_file.h"
#include "environment.h"
#include "files.h"
#include "settings.h"
#include "window_driver.h"

namespace fs = std::filesystem;
using namespace std::literals;

namespace {

// What a window in language shows for source, a text of context: the
// translation in that language's file (the .ts that the builds make their
// tables from), or source itself where the file has none.
// (Read as Linguist writes it; the texts looked up here need no escapes.)
std::string Translated(UiLanguage language, const std::string &context, const std::string &source) {
    std::string ts;
    EXPECT_TRUE(ReadWholeFile(LOOPSET_TS_DIR "/loopset_"s + LanguageCode(language) + ".ts", ts));
    const size_t in = ts.find("<name>" + context + "</name>");
    const size_t at = ts.find("<source>" + source + "</source>", in);
    if (in == ts.npos || at > ts.find("</context>", in)) return source;
    const size_t from = ts.find('>', ts.find("<translation", at)) + 1;
    const size_t to = ts.find("</translation>", from);
    return to == from || ts[from - 2] == '/' ? source : ts.substr(from, to - from);
}

}  // namespace

class window : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir);
        // settings_check.sh runs the program from a folder it cannot write to.
        // In the designed language, whatever the user's.
        d = OpenWindow(std::getenv("LOOPSET_READ_ONLY_FOLDER") ? "" : Path(u8"config.ini"),
                       UiLanguage::Korean);
        if (!d) GTEST_SKIP() << "no simulated device: run through with_display.sh";
    }
    void TearDown() override {
        d.reset();
        fs::remove_all(dir, ignored);
    }
    std::string Path(const char8_t *name) {
        const std::u8string path = (dir / name).u8string();
        return {path.begin(), path.end()};
    }

    fs::path dir =
        fs::temp_directory_path() / ("loopset-window-" + std::to_string(std::random_device{}()));
    std::error_code ignored;
    std::unique_ptr<CWindowDriver> d;
};

TEST_F(window, EveryControlOfTheTableIsShownInPlaceWithItsText) {
    for (size_t i = 0; i < std::size(kDialogControls); ++i) {
        const ControlSpec &c = kDialogControls[i];
        SCOPED_TRACE(std::to_string(i) + " " + c.text);
        Rect want = d->Map({c.x, c.y, c.width, c.height});
        const Rect got = d->Geometry(i);
        // A closed selector is as tall as its edit; the table's height is the dropped list's.
        if (c.kind == ControlKind::PortSelector) want.height = got.height;
        EXPECT_EQ(got, want) << got.x << ',' << got.y << ' ' << got.width << 'x' << got.height;
        EXPECT_TRUE(d->Shown(i));
        if (c.kind == ControlKind::PortSelector || c.kind == ControlKind::Log) continue;
        EXPECT_EQ(d->Text(i), c.text);
    }
}

TEST_F(window, TabFollowsTheTableEnterLeavesTheWindowOpenEscapeClosesIt) {
    std::vector<int> visited{d->FocusId()}, want(std::begin(kTabOrder), std::end(kTabOrder));
    want.push_back(kTabOrder[0]);  // and round again
    while (visited.size() < want.size()) {
        d->Key(WindowKey::Tab);
        visited.push_back(d->FocusId());
    }
    EXPECT_EQ(visited, want);
    for (int id : {IDC_CH1_REF_MIN, IDC_ADC_CH1, IDC_LOG, IDC_COM_PORT}) {
        d->Focus(id);
        d->Key(WindowKey::Enter);
        EXPECT_FALSE(d->Ended()) << id;
    }
    d->Key(WindowKey::Escape);
    EXPECT_EQ(d->Ended(), kDialogCancel);
}

TEST_F(window, ThePortSelectorOffersPortsFromOneAndTakesATypedNumberOnlyIfOffered) {
    CLoopsetWindow &w = d->Window();
    int n = 0;
    do w.SetFieldText(IDC_COM_PORT, std::to_string(++n));
    while (w.GetPortSelection() == n - 1);
    EXPECT_GT(n, 4) << "ports offered";
    for (const std::string &typed : {"0"s, "03"s, " 3"s, "abc"s, ""s}) {
        w.SetFieldText(IDC_COM_PORT, typed);
        EXPECT_EQ(w.GetPortSelection(), -1) << typed;
    }
    w.SetPortSelection(3);
    EXPECT_EQ(d->Field(IDC_COM_PORT), "4");
}

TEST_F(window, WarningsAreTheWindowsBoxesOnItsThreadAndWorkersWaitForThemOrItsEnd) {
    // A typed port with no device behind it: the link's own warning, and the
    // port kept all the same.
    const int absent = d->AbsentPort();
    d->Window().SetFieldText(IDC_COM_PORT, std::to_string(absent));
    d->Press(IDC_BTN_ADC_READ);
    EXPECT_EQ(ReadComPort(d->Window().Dialog().SettingsPath()), absent);
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        d->Window().ShowWarning("경고 from a worker");
        returned = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(returned) << "a box shown off the window's thread";
    EXPECT_TRUE(d->PumpUntil([&] { return returned.load(); }));
    worker.join();
    ASSERT_EQ(d->boxes.size(), 2u);
    EXPECT_NE(d->boxes[0].text.find("COM " + std::to_string(absent)), std::string::npos);
    EXPECT_EQ(d->boxes[1].text, "경고 from a worker");
    for (const CWindowDriver::Box &box : d->boxes) EXPECT_TRUE(box.fromWindow) << box.text;

    // Nobody runs the window's events now: the boxes can never show. Several
    // workers, so that one is still waking when the window is gone.
    std::vector<std::future<void>> shown;
    for (int i = 0; i < 4; ++i)
        shown.push_back(std::async(std::launch::async,
                                   [w = &d->Window()] { w->ShowError("socket()", "refused"); }));
    EXPECT_EQ(shown[0].wait_for(100ms), std::future_status::timeout);
    d.reset();
    for (auto &one : shown) EXPECT_EQ(one.wait_for(5s), std::future_status::ready);
}

TEST_F(window, AButtonsAnswerFromTheDeviceThenTheLiveViewPollsThePortQuietly) {
    EXPECT_EQ(d->Field(IDC_COM_PORT), std::to_string(d->SimPort()));  // the stored one
    d->Press(IDC_BTN_CONFIG_READ);
    ASSERT_TRUE(d->PumpUntil([&] { return d->Field(IDC_LOG).ends_with("\tOk!"); }))
        << d->Field(IDC_LOG);
    for (int id : kConfigFieldIds) EXPECT_TRUE(WholeWord(d->Field(id))) << id;
    EXPECT_TRUE(d->LogAtEnd());
    EXPECT_TRUE(d->PumpUntil([&] { return !d->Ticking(); }))
        << "a timer ticking with nothing to gather";

    d->Key(WindowKey::LiveView);
    CLiveView &live = d->Window().LiveViewWindow()->Live();
    const CLiveViewModel &model = live.Model();
    // A capture wants two steady seconds of readings.
    ASSERT_TRUE(d->PumpUntil([&] { return model.CaptureMean(0, live.Seconds()).mean.has_value(); }))
        << d->Field(IDC_LOG);
    EXPECT_EQ(model.Failures(), 0u);
    // Its readings fill the fields, and mean what the configuration says.
    for (int id : {IDC_ADC_CH1, IDC_ADC_CH2}) EXPECT_TRUE(WholeWord(d->Field(id))) << id;
    EXPECT_NE(d->LiveValue(0).find(" mA"), std::string::npos) << d->LiveValue(0);
    // The mean at the click, which may leave out the oldest reading of this
    // one; the 20 mA field keeps its value.
    // A reading that came late under load can leave the window uncovered
    // by the click: it is refused with a box, and taken a moment later.
    const std::string max = d->Field(IDC_CH1_REF_MAX);
    ASSERT_TRUE(d->PumpUntil([&] {
        d->boxes.clear();
        d->LiveCapture(0, false);
        return d->boxes.empty();
    })) << d->boxes[0].text;
    EXPECT_NEAR(std::stod(d->Field(IDC_CH1_REF_MIN)), *model.CaptureMean(0, live.Seconds()).mean,
                1.0);
    EXPECT_EQ(d->Field(IDC_CH1_REF_MAX), max);
    d->LiveClose();
    const std::string log = d->Field(IDC_LOG);
    EXPECT_TRUE(log.ends_with("\tLive View Stop") && log.find("\tLive View Start") != log.npos)
        << log;
    EXPECT_EQ(log.find("ADC"), log.npos) << "a line per sample";
}

TEST_F(window, ConfigurationFilesKeepTheEightFieldsAndABadOneChangesNone) {
    const std::string file = Path(u8"라인3.json"), bad = Path(u8"bad.json");
    for (int id : kConfigFieldIds) d->Window().SetFieldText(id, std::to_string(id * 3));
    ASSERT_TRUE(d->Window().SaveConfiguration(file.c_str()));
    for (int id : kConfigFieldIds) d->Window().SetFieldText(id, "7");
    ASSERT_TRUE(d->Window().LoadConfiguration(file.c_str()));
    for (int id : kConfigFieldIds) EXPECT_EQ(d->Field(id), std::to_string(id * 3));
    ASSERT_TRUE(ReplaceFileContents(bad, "{\"ch1\": 5}"));
    EXPECT_FALSE(d->Window().LoadConfiguration(bad.c_str()));
    EXPECT_EQ(d->Field(IDC_CH1_REF_MIN), std::to_string(IDC_CH1_REF_MIN * 3));
    ASSERT_EQ(d->boxes.size(), 1u);
    EXPECT_NE(d->boxes[0].text.find(bad), std::string::npos) << d->boxes[0].text;
    EXPECT_TRUE(d->boxes[0].fromWindow);
}

TEST_F(window, ACalibrationThroughItsWindowAdjustsOneChannelAndSavesItsRecord) {
    // The procedure's texts as written.
    d.reset();
    d = OpenWindow(Path(u8"config.ini"), UiLanguage::English);
    // An instrument that reads 2 % low with 10 counts of offset: 4 mA reads
    // 813 and 20 mA 4023, against the 819 and 4095 the device is set to.
    d->Press(IDC_BTN_CONFIG_READ);
    ASSERT_TRUE(d->PumpUntil([&] { return d->Field(IDC_LOG).ends_with("\tOk!"); }));
    const int ch2[] = {IDC_CH2_REF_MIN, IDC_CH2_REF_MAX, IDC_CH2_DISP_MIN, IDC_CH2_DISP_MAX};
    std::vector<std::string> ch2Before;
    for (int id : ch2) ch2Before.push_back(d->Field(id));
    d->Key(WindowKey::Calibration);
    ASSERT_TRUE(d->Window().CalibrationWindow());
    d->Window().CalibrationWindow()->Presenter().SetSteadySeconds(0.5);
    d->CalType(CalText::Channel, "1");
    d->CalType(CalText::Points, "4,20");
    d->CalPress(CalText::Start);
    size_t rows = 0;
    for (const char *table : {"as found", "as left"}) {
        for (const auto &[mA, prompt] : {std::pair{"4", "Apply 4.000 mA to CH.1"},
                                         std::pair{"20", "Apply 20.000 mA to CH.1"}}) {
            ASSERT_TRUE(d->PumpUntil([&] { return d->CalShown(CalLine::Prompt).starts_with(prompt); }))
                << table << ": " << d->CalShown(CalLine::Prompt);
            d->SimControl("1="s + mA);
            d->CalPress(CalText::Next);
            ASSERT_TRUE(d->PumpUntil([&] { return d->CalTable().size() > rows; }, 15000))
                << table << ' ' << mA << ": " << d->CalShown(CalLine::Prompt);
            ++rows;
        }
        if (rows == 2) d->CalPress(CalText::Adjust);
    }
    ASSERT_TRUE(d->PumpUntil([&] { return d->CalShown(CalLine::Prompt).starts_with("Done"); }))
        << d->CalShown(CalLine::Prompt);
    const std::vector<CalRow> table = d->CalTable();
    const std::pair<const char *, const char *> want[] = {
        {"as found", "-0.183"}, {"as found", "-2.198"}, {"as left", "0.000"}, {"as left", "0.000"}};
    ASSERT_EQ(table.size(), std::size(want));
    for (size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(table[i][0], want[i].first) << i;
        EXPECT_EQ(table[i][6], want[i].second) << i;
        EXPECT_EQ(table[i][7], i == 1 ? "fail" : "pass") << i;
    }
    EXPECT_EQ(d->CalShown(CalLine::Verdicts), "As found: fail   As left: pass");

    // The device keeps the new range on CH.1 alone: read again into emptied
    // fields.
    d->Window().SetFieldText(IDC_CH1_REF_MIN, "");
    d->Press(IDC_BTN_CONFIG_READ);
    EXPECT_TRUE(d->PumpUntil([&] { return !d->Field(IDC_CH1_REF_MIN).empty(); }));
    EXPECT_EQ(d->Field(IDC_CH1_REF_MIN) + ".." + d->Field(IDC_CH1_REF_MAX), "813..4023");
    for (size_t i = 0; i < std::size(ch2); ++i) EXPECT_EQ(d->Field(ch2[i]), ch2Before[i]) << i;
    // The procedure's configuration requests are in the log, its samples not.
    const std::string log = d->Field(IDC_LOG);
    EXPECT_NE(log.find("Send Config Write"), log.npos) << log;
    EXPECT_EQ(log.find("ADC"), log.npos) << log;

    // The record goes where the window says, in the user's data folder.
    const std::string folder = d->CalShown(CalLine::Folder);
    EXPECT_EQ(folder, d->dataFolder + "records" + d->dataFolder.back());
    d->CalPress(CalText::Save);
    const std::string saved = d->CalShown(CalLine::Saved);
    const std::string json = saved.substr(0, saved.find_first_of("\r\n"));
    EXPECT_TRUE(json.starts_with(folder) && json.ends_with(".json")) << saved;
    std::string record;
    EXPECT_TRUE(ReadWholeFile(json, record)) << json;
    EXPECT_NE(record.find("\"verdict_as_left\": \"pass\""), record.npos) << record;
    fs::remove_all(fs::path(std::u8string(folder.begin(), folder.end())), ignored);
}

TEST_F(window, ItsWindowsSpeakTheChosenLanguageInTheWordsOfItsTranslationFile) {
    const std::string settings = Path(u8"config.ini");
    // The user's locale, the settings' Lang, and the language the windows speak.
    for (const auto &[locale, stored, language] :
         {std::tuple{"ko_KR.UTF-8", "", UiLanguage::Korean},
          {"C.UTF-8", "", UiLanguage::Korean},  // no language set: the designed texts
          {"en_US.UTF-8", "", UiLanguage::English},
          {"ko_KR.UTF-8", "en", UiLanguage::English}}) {  // the settings' over the user's
        SCOPED_TRACE(locale + " Lang="s + stored);
        d.reset();
        ASSERT_TRUE(SetProcessEnv("LC_ALL", locale));
        ASSERT_TRUE(ReplaceFileContents(settings, "[Data]\r\nLang="s + stored + "\r\n"));
        // The rule as both programs apply it, over the settings of the run.
        d = OpenWindow(settings, ChooseLanguage({}, StoredLanguage(settings), SystemLocaleName()));
        d->Window().OpenLiveView();
        d->Window().OpenCalibration();
        const std::vector<std::string> texts = d->Texts();
        const auto has = [&](const char *context, const std::string &source) {
            return std::ranges::count(texts, Translated(language, context, source)) > 0;
        };
        EXPECT_EQ(texts[0], Translated(language, "dialog", kDialogTitle));
        for (const ControlSpec &control : kDialogControls)
            EXPECT_TRUE(control.kind != ControlKind::Button || has("dialog", control.text))
                << control.text;
        // The further commands where a person finds them, the other windows.
        for (const UiText id :
             {UiText::CommandsButton, UiText::CommandLiveView, UiText::CommandCalibration,
              UiText::LiveTitle, UiText::LiveUse4mA, UiText::LivePause, UiText::CalTitle,
              UiText::CalStart, UiText::CalPromptIdle})
            EXPECT_TRUE(has("loopset", SourceText(id))) << SourceText(id);
    }
    SetProcessEnv("LC_ALL", "");
}
