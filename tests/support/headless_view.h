// The dialog's window without a display: fields, log and message boxes in
// memory, and a port window whose post() only queues (thread-safe, never
// waits for the UI). Pump() plays the modal loop.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
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
    void StartTimer(unsigned, unsigned, unsigned) override {}
    void StopTimer(unsigned) override {}
    void EndDialog(int) override {}
    PortlinkWindow *PortWindow() override { return &m_window; }

    // Takes the oldest queued message; waits for one until deadline.
    bool TakeMessage(WindowMessage &msg, std::chrono::steady_clock::time_point deadline) {
        std::unique_lock<std::mutex> lock(m_lock);
        if (!m_posted.wait_until(lock, deadline, [this] { return m_count > 0; })) return false;
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
};

// Runs the modal loop until done() holds or timeoutMs passed, checking done()
// after every message and every OnTimer(0) (due each 2 ms); returns done().
template <typename Done>
bool Pump(CLoopsetDlg &dlg, CHeadlessView &view, Done done, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto nextTick = Clock::now();
    while (!done()) {
        const auto now = Clock::now();
        if (now >= deadline) return done();
        if (now >= nextTick) {
            dlg.OnTimer(0);
            nextTick = now + std::chrono::milliseconds(2);  // a late timer does not fire twice
            continue;
        }
        WindowMessage msg;
        if (view.TakeMessage(msg, std::min(nextTick, deadline))) dlg.PreTranslateMessage(msg);
    }
    return true;
}
