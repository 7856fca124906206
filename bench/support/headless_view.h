// The dialog's window without a display: fields, log and message boxes in
// memory, a port window whose post() only queues (thread-safe, never waits
// for the UI), and timers that tick only while the dialog keeps them running.
// Pump() plays the modal loop.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "loopset_dlg.h"
#include "loopset_view.h"

class CHeadlessView : public ILoopsetView {
public:
    static constexpr size_t kQueueSize = 4096;

    void ShowWarning(const std::string &text) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_warnings.push_back(text);
    }
    void ShowError(const std::string &caption, const std::string &text) override {
        ShowWarning(caption + ": " + text);
    }
    std::string GetFieldText(int id) override { return m_fields[id]; }
    void SetFieldText(int id, const std::string &text) override {
        m_fields[id] = text;
        if (onFieldSet) onFieldSet(onFieldSetContext, id);
    }
    int GetPortSelection() override { return m_selection; }
    void SetPortSelection(int index) override {
        m_selection = index >= 0 && index < 30 ? index : -1;
    }
    void SetLogText(const std::string &text) override { m_logText = text; }
    void ScrollLogToEnd() override {}
    void SetIcons() override {}
    using ILoopsetView::StartTimer;
    // Timers belong to the UI thread (the dialog starts and stops them from
    // its handlers, Pump fires them), so they need no lock.
    void StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) override {
        Timer *timer = Claim(id);
        if (!timer) return;  // more timers than a dialog ever runs
        timer->running = true;
        timer->period = std::chrono::milliseconds(periodMs);
        timer->due = Clock::now() + std::chrono::milliseconds(firstMs);
        ++timer->starts;
    }
    void StopTimer(unsigned id) override {
        if (Timer *timer = Find(id)) timer->running = false;
    }
    void EndDialog(int) override {}
    PortlinkWindow *PortWindow() override { return &m_window; }

    using Clock = std::chrono::steady_clock;

    // When the earliest running timer is due; Clock::time_point::max() when
    // none runs.
    Clock::time_point NextTimerDue() const {
        Clock::time_point due = Clock::time_point::max();
        for (const Timer &t : m_timers)
            if (t.running && t.due < due) due = t.due;
        return due;
    }
    // Fires the earliest timer due by now (OnTimer), as a window's loop does;
    // false when none is due. A timer the tick stopped or restarted keeps
    // what the tick made of it; otherwise it is due a period after it was
    // due, and a late one does not fire twice to catch up.
    bool FireDueTimer(CLoopsetDlg &dlg, Clock::time_point now) {
        Timer *due = nullptr;
        for (Timer &t : m_timers)
            if (t.running && t.due <= now && (!due || t.due < due->due)) due = &t;
        if (!due) return false;
        const unsigned starts = due->starts;
        dlg.OnTimer(due->id);
        if (!due->running || due->starts != starts) return true;
        due->due += due->period;
        if (due->due <= now) due->due = now + due->period;
        return true;
    }
    bool TimerRunning(unsigned id) const {
        const Timer *timer = Find(id);
        return timer && timer->running;
    }
    // How often the dialog started a timer (a count of wake-ups from sleep).
    unsigned TimerStarts(unsigned id) const {
        const Timer *timer = Find(id);
        return timer ? timer->starts : 0;
    }

    // Takes the oldest queued message; waits for one until deadline.
    bool TakeMessage(WindowMessage &msg, Clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(m_lock);
        const auto posted = [this] { return m_count > 0; };
        // No deadline at all waits without one: the far end of the clock
        // would overflow the kernel's absolute time.
        if (deadline == Clock::time_point::max())
            m_posted.wait(lock, posted);
        else if (!m_posted.wait_until(lock, deadline, posted))
            return false;
        msg = m_queue[m_head];
        m_head = (m_head + 1) % kQueueSize;
        --m_count;
        return true;
    }

    // The log's entries without their time stamps ("\r\n<date> <time>\t<text>").
    std::vector<std::string> LogEntries() const {
        std::vector<std::string> entries;
        for (size_t at = m_logText.find('\t'); at != std::string::npos;) {
            const size_t end = m_logText.find("\r\n", at);
            entries.push_back(
                m_logText.substr(at + 1, end == std::string::npos ? end : end - at - 1));
            at = m_logText.find('\t', end);
        }
        return entries;
    }
    std::string Field(int id) const { return m_fields.count(id) ? m_fields.at(id) : ""; }
    std::vector<std::string> Warnings() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_warnings;
    }
    size_t DroppedPosts() const {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_dropped;
    }

    // Called after every SetFieldText (the timing tool stops its clock here).
    void (*onFieldSet)(void *context, int id) = nullptr;
    void *onFieldSetContext = nullptr;

private:
    struct Timer {
        unsigned id = 0;
        bool used = false, running = false;
        unsigned starts = 0;
        Clock::duration period{};
        Clock::time_point due{};
    };
    const Timer *Find(unsigned id) const {
        for (const Timer &t : m_timers)
            if (t.used && t.id == id) return &t;
        return nullptr;
    }
    Timer *Find(unsigned id) { return const_cast<Timer *>(std::as_const(*this).Find(id)); }
    // The slot of timer id, or a free one for it when it has none.
    Timer *Claim(unsigned id) {
        if (Timer *timer = Find(id)) return timer;
        for (Timer &t : m_timers)
            if (!t.used) return (t.used = true, t.id = id, &t);
        return nullptr;
    }

    static void Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam) {
        auto *self = static_cast<CHeadlessView *>(context);
        {
            std::lock_guard<std::mutex> lock(self->m_lock);
            // A full queue loses the message, as a full window queue would.
            if (self->m_count == kQueueSize) return void(++self->m_dropped);
            self->m_queue[(self->m_head + self->m_count++) % kQueueSize] = {message, wParam,
                                                                            lParam};
        }
        self->m_posted.notify_one();
    }

    PortlinkWindow m_window{&CHeadlessView::Post, this};
    mutable std::mutex m_lock;  // guards the queue and the warnings
    std::condition_variable m_posted;
    WindowMessage m_queue[kQueueSize];
    size_t m_head = 0, m_count = 0, m_dropped = 0;
    std::vector<std::string> m_warnings;
    std::map<int, std::string> m_fields;  // the rest belongs to the UI thread
    int m_selection = -1;
    std::string m_logText;
    Timer m_timers[4];
};

// Runs the modal loop until done() holds or timeoutMs passed, checking done()
// after every message and every timer tick; sleeps until the next message,
// the next tick of a running timer or the deadline; returns done().
template <typename Done>
bool Pump(CLoopsetDlg &dlg, CHeadlessView &view, Done done, int timeoutMs) {
    using Clock = CHeadlessView::Clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        const auto now = Clock::now();
        if (now >= deadline) return done();
        if (view.FireDueTimer(dlg, now)) continue;
        WindowMessage msg;
        if (view.TakeMessage(msg, std::min(view.NextTimerDue(), deadline)))
            dlg.PreTranslateMessage(msg);
    }
    return true;
}
