#include "headless_view.h"

CHeadlessView::CHeadlessView() : m_window{&CHeadlessView::Post, this} {}

void CHeadlessView::Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam) {
    auto *self = static_cast<CHeadlessView *>(context);
    {
        std::lock_guard<std::mutex> lock(self->m_lock);
        if (self->m_count == kQueueSize) {
            // A full queue loses the message, as a full window queue would.
            ++self->m_dropped;
            return;
        }
        self->m_queue[(self->m_head + self->m_count) % kQueueSize] = {message, wParam, lParam};
        ++self->m_count;
    }
    self->m_posted.notify_one();
}

bool CHeadlessView::TakeMessage(WindowMessage &msg,
                                std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_posted.wait_until(lock, deadline, [this] { return m_count > 0; })) return false;
    msg = m_queue[m_head];
    m_head = (m_head + 1) % kQueueSize;
    --m_count;
    return true;
}

void CHeadlessView::ShowWarning(const std::string &text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_warnings.push_back(text);
}

void CHeadlessView::ShowError(const std::string &caption, const std::string &text) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_warnings.push_back(caption + ": " + text);
}

std::string CHeadlessView::GetFieldText(int id) {
    return m_fields[id];
}

void CHeadlessView::SetFieldText(int id, const std::string &text) {
    m_fields[id] = text;
    if (onFieldSet) onFieldSet(onFieldSetContext, id);
}

void CHeadlessView::StartTimer(unsigned, unsigned periodMs) {
    m_timerPeriodMs = periodMs;
}

std::vector<std::string> CHeadlessView::LogEntries() const {
    // Each entry is "\r\nYYYY-MM-DD hh:mm:ss\t<text>".
    std::vector<std::string> entries;
    size_t at = 0;
    while ((at = m_logText.find("\r\n", at)) != std::string::npos) {
        at += 2;
        const size_t end = m_logText.find("\r\n", at);
        const std::string entry = m_logText.substr(at, end == std::string::npos ? end : end - at);
        const size_t tab = entry.find('\t');
        entries.push_back(tab == std::string::npos ? entry : entry.substr(tab + 1));
    }
    return entries;
}

std::string CHeadlessView::Field(int id) const {
    const auto it = m_fields.find(id);
    return it == m_fields.end() ? std::string() : it->second;
}

std::vector<std::string> CHeadlessView::Warnings() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_warnings;
}

size_t CHeadlessView::DroppedPosts() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_dropped;
}
