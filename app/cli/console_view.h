// The dialog's view on a console: fields kept in memory, log entries written
// to a stream as they are logged, message boxes written out and remembered,
// the outcome of each response kept for the caller, and a message loop that
// sleeps until portlink posts or the dialog's timer is due.
#pragma once

#include <csignal>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "console_loop.h"
#include "loopset_dlg.h"
#include "loopset_view.h"

class ConsoleView : public ILoopsetView {
public:
    // prefix goes before every line written to logStream.
    explicit ConsoleView(FILE *logStream, std::string prefix = {});
    ~ConsoleView() override = default;
    ConsoleView(const ConsoleView &) = delete;
    ConsoleView &operator=(const ConsoleView &) = delete;

    // The dialog whose messages and timer ticks the loop delivers.
    void Attach(CLoopsetDlg *dlg) { m_dlg = dlg; }
    // Keeps the port selector on this item whatever the dialog selects, as a
    // user who has picked a port before the first command.
    void PinPortSelection(int index) { m_pinnedSelection = index; }

    // Delivers posted messages until the next timer tick, which it delivers
    // too, or until timeoutMs has passed. False if waiting failed (errno).
    bool RunOnce(int timeoutMs);

    // Responses processed so far, oldest first.
    const std::vector<ResponseOutcome> &Outcomes() const { return m_outcomes; }
    // Forgets them, keeping the room: a run of many requests stays flat.
    void ForgetOutcomes() { m_outcomes.clear(); }
    // RunOnce returns as soon as *flag is set and the loop is woken (Wake
    // may be called from a signal handler).
    void SetStopFlag(const volatile std::sig_atomic_t *flag) { m_stopFlag = flag; }
    void Wake() { m_loop.Wake(); }
    // Message boxes shown so far (their texts), from any thread.
    std::vector<std::string> Boxes() const;
    // The dialog's timer runs: the loop wakes for it even with no message.
    bool TimerRunning() const { return m_timerRunning; }

    // ILoopsetView
    void ShowWarning(const std::string &text) override;
    void ShowError(const std::string &caption, const std::string &text) override;
    std::string GetFieldText(int id) override;
    void SetFieldText(int id, const std::string &text) override { m_fields[id] = text; }
    int GetPortSelection() override;
    void SetPortSelection(int index) override { m_selection = index; }
    void SetLogText(const std::string &text) override;
    void ScrollLogToEnd() override {}
    void SetIcons() override {}
    using ILoopsetView::StartTimer;
    void StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) override;
    void StopTimer(unsigned id) override;
    void EndDialog(int result) override { m_endResult = result; }
    PortlinkWindow *PortWindow() override { return m_loop.PortWindow(); }
    void OnResponse(const ResponseOutcome &outcome) override { m_outcomes.push_back(outcome); }
    void OnSettingsNotStored(const std::string &path, const std::string &why) override;

private:
    static void Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam);
    void DeliverPosted();
    // A box as one line: "loopctl: ", the prefix, caption (with its ": ") and text.
    void ShowBox(const std::string &caption, const std::string &text);

    FILE *m_logStream;
    std::string m_prefix;
    CLoopsetDlg *m_dlg = nullptr;
    std::map<int, std::string> m_fields;
    int m_selection = -1;
    int m_pinnedSelection = -1;
    std::vector<ResponseOutcome> m_outcomes;
    int m_endResult = 0;
    const volatile std::sig_atomic_t *m_stopFlag = nullptr;

    mutable std::mutex m_boxMutex;
    std::vector<std::string> m_boxes;

    // Posted messages: a fixed ring, so posting neither allocates nor waits
    // for more than the copy of one message.
    static constexpr size_t kQueueSize = 256;
    std::mutex m_queueMutex;
    WindowMessage m_queue[kQueueSize];
    size_t m_queueHead = 0;
    size_t m_queueCount = 0;

    CConsoleLoop m_loop{&ConsoleView::Post, this};
    unsigned m_timerId = 0;
    bool m_timerRunning = false;

};
