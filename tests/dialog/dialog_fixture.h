// A dialog on an in-memory view and the recording portlink, with its own
// config.ini in a fresh directory and a fixed clock for the log.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake_portlink.h"
#include "fake_view.h"
#include "loopset_dlg.h"
#include "settings.h"

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        Fake().Reset();
        char tmpl[] = "/tmp/loopset_dialog_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        settingsPath = dir + "/config.ini";
    }
    void TearDown() override {
        dlg.reset();
        std::filesystem::remove_all(dir);
    }

    void WriteSettings(const std::string &contents) { std::ofstream(settingsPath) << contents; }

    void Start() {
        dlg = std::make_unique<CLoopsetDlg>(view, settingsPath, FakePortlinkApi());
        dlg->Log().SetClock([] { return LocalTime{2026, 3, 4, 5, 6, 7}; });
        ASSERT_TRUE(dlg->OnInitDialog());
    }

    // The log's entries, each without its time stamp.
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        size_t pos = 0;
        while ((pos = view.logText.find("\r\n", pos)) != std::string::npos) {
            pos += 2;
            const size_t tab = view.logText.find('\t', pos);
            const size_t end = view.logText.find("\r\n", pos);
            lines.push_back(view.logText.substr(
                tab + 1, end == std::string::npos ? std::string::npos : end - tab - 1));
        }
        return lines;
    }
    // The entries logged from now on.
    std::vector<std::string> LogLinesSince(size_t count) const {
        const std::vector<std::string> all = LogLines();
        return {all.begin() + static_cast<std::ptrdiff_t>(count), all.end()};
    }

    // Bytes arriving at the dialog's port: the listener's notification, then
    // one timer tick.
    void Receive(const std::vector<uint8_t> &bytes) {
        Fake().chunks.push_back(bytes);
        dlg->PreTranslateMessage({PORTLINK_WM_PORT_NOTIFY, 1, dlg->Link().m_nPort});
        dlg->OnTimer(0);
    }

    std::string dir;
    std::string settingsPath;
    FakeView view;
    std::unique_ptr<CLoopsetDlg> dlg;
};
