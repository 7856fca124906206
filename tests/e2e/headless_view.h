// The dialog's window without a display: fields, log and message boxes in
// memory, and a port window whose post() only queues (thread-safe, never
// waits for the UI). Pump() plays the modal loop: it hands each queued
// message to PreTranslateMessage and calls OnTimer(0) every 2 ms.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "loopset_dlg.h"
#include "loopset_view.h"

class CHeadlessView : public ILoopsetView {
public:
    static constexpr size_t kQueueSize = 4096;

    CHeadlessView();

    void ShowWarning(const std::string &text) override;
    void ShowError(const std::string &caption, const std::string &text) override;
    std::string GetFieldText(int id) override;
    void SetFieldText(int id, const std::string &text) override;
    int GetPortSelection() override { return m_selection; }
    void SetPortSelection(int index) override {
        m_selection = index >= 0 && index < 30 ? index : -1;
    }
    void SetLogText(const std::string &text) override { m_logText = text; }
    void ScrollLogToEnd() override {}
    void SetIcons() override {}
    void StartTimer(unsigned id, unsigned periodMs) override;
    void EndDialog(int result) override { m_endResult = result; }
    PortlinkWindow *PortWindow() override { return &m_window; }

    // Takes the oldest queued message; waits for one until deadline.
    bool TakeMessage(WindowMessage &msg, std::chrono::steady_clock::time_point deadline);

    // The log's entries without their time stamps, oldest first.
    std::vector<std::string> LogEntries() const;
    std::string Field(int id) const;
    std::vector<std::string> Warnings() const;
    bool TimerStarted() const { return m_timerPeriodMs == 2; }
    size_t DroppedPosts() const;

    // Called after every SetFieldText (the timing tool stops its clock here).
    void (*onFieldSet)(void *context, int id) = nullptr;
    void *onFieldSetContext = nullptr;

private:
    static void Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam);

    PortlinkWindow m_window;
    mutable std::mutex m_lock;  // guards the queue and the warnings
    std::condition_variable m_posted;
    WindowMessage m_queue[kQueueSize];
    size_t m_head = 0;
    size_t m_count = 0;
    size_t m_dropped = 0;
    std::vector<std::string> m_warnings;

    // UI-thread state.
    std::map<int, std::string> m_fields;
    int m_selection = -1;
    std::string m_logText;
    unsigned m_timerPeriodMs = 0;
    int m_endResult = 0;
};

// Runs the modal loop for the dialog until done() holds or timeoutMs passed;
// returns done(). step() runs after every message and tick.
template <typename Done, typename Step>
bool Pump(CLoopsetDlg &dlg, CHeadlessView &view, Done done, int timeoutMs, Step step) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kTick = std::chrono::milliseconds(2);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto nextTick = Clock::now() + kTick;
    while (!done()) {
        const auto now = Clock::now();
        if (now >= deadline) return done();
        if (now >= nextTick) {
            dlg.OnTimer(0);
            // A late timer does not fire twice, like a window timer.
            nextTick = now + kTick;
            step();
            continue;
        }
        WindowMessage msg;
        if (view.TakeMessage(msg, nextTick < deadline ? nextTick : deadline)) {
            dlg.PreTranslateMessage(msg);
            step();
        }
    }
    return true;
}

template <typename Done>
bool Pump(CLoopsetDlg &dlg, CHeadlessView &view, Done done, int timeoutMs) {
    return Pump(dlg, view, done, timeoutMs, [] {});
}

// Pumps for a fixed time.
inline void PumpFor(CLoopsetDlg &dlg, CHeadlessView &view, int ms) {
    Pump(
        dlg, view, [] { return false; }, ms);
}
