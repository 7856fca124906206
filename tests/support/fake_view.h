// The window in memory: fields by id, the port selector's items "1" to "30",
// the log field, the message boxes shown, the timer and the dialog's end.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "loopset_view.h"

struct FakeView : ILoopsetView {
    std::map<int, std::string> fields;
    int selection = -1;
    std::string logText;
    std::vector<std::string> warnings;
    unsigned timerId = 99, timerPeriodMs = 0, timerFirstMs = 0;
    bool timerRunning = false;
    int endResult = 0;  // 0 while open
    std::vector<ResponseOutcome> outcomes;
    std::vector<std::string> notStored;  // settings paths the port could not be stored in
    PortlinkWindow window{};

    void ShowWarning(const std::string &text) override { warnings.push_back(text); }
    void ShowError(const std::string &, const std::string &t) override { warnings.push_back(t); }
    std::string GetFieldText(int id) override { return fields[id]; }
    void SetFieldText(int id, const std::string &text) override { fields[id] = text; }
    int GetPortSelection() override { return selection; }
    // Like a combo box, an index outside the list selects nothing.
    void SetPortSelection(int index) override { selection = index >= 0 && index < 30 ? index : -1; }
    void SetLogText(const std::string &text) override { logText = text; }
    void ScrollLogToEnd() override {}
    void SetIcons() override {}
    void StartTimer(unsigned id, unsigned ms, unsigned first) override {
        timerId = id, timerPeriodMs = ms, timerFirstMs = first, timerRunning = true;
    }
    void StopTimer(unsigned) override { timerRunning = false; }
    void EndDialog(int result) override { endResult = result; }
    PortlinkWindow *PortWindow() override { return &window; }
    void OnResponse(const ResponseOutcome &out) override { outcomes.push_back(out); }
    void OnSettingsNotStored(const std::string &path, const std::string &) override {
        notStored.push_back(path);
    }
};
