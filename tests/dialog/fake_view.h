// The window in memory: fields by id, the port selector's items "1" to "30",
// the log, the message boxes shown, the timer and the dialog's end.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "loopset_view.h"

class FakeView : public ILoopsetView {
public:
    static constexpr int kPortItems = 30;

    std::map<int, std::string> fields;
    int selection = -1;
    std::string logText;
    int scrolls = 0;
    std::vector<std::string> warnings;
    bool iconsSet = false;
    int timerId = -1;
    unsigned timerPeriodMs = 0;
    int endResult = 0;  // 0: still open
    PortlinkWindow window{};

    void ShowWarning(const std::string &text) override { warnings.push_back(text); }
    void ShowError(const std::string &caption, const std::string &text) override {
        warnings.push_back(caption + ": " + text);
    }
    std::string GetFieldText(int id) override { return fields[id]; }
    void SetFieldText(int id, const std::string &text) override { fields[id] = text; }
    int GetPortSelection() override { return selection; }
    // Like a combo box: an index outside the list leaves nothing selected.
    void SetPortSelection(int index) override {
        selection = index >= 0 && index < kPortItems ? index : -1;
    }
    void SetLogText(const std::string &text) override { logText = text; }
    void ScrollLogToEnd() override { ++scrolls; }
    void SetIcons() override { iconsSet = true; }
    void StartTimer(unsigned id, unsigned periodMs) override {
        timerId = static_cast<int>(id);
        timerPeriodMs = periodMs;
    }
    void EndDialog(int result) override { endResult = result; }
    PortlinkWindow *PortWindow() override { return &window; }
};
