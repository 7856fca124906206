#include "console_view.h"

#include "clock.h"

ConsoleView::ConsoleView(FILE *logStream, std::string prefix)
    : m_logStream(logStream), m_prefix(std::move(prefix)) {}

void ConsoleView::Post(void *context, uint32_t message, uint32_t wParam, int32_t lParam) {
    auto *self = static_cast<ConsoleView *>(context);
    {
        std::lock_guard lock(self->m_queueMutex);
        // A full queue means the loop is far behind; the message that is lost
        // only says "bytes are waiting", which the queued ones already say.
        if (self->m_queueCount == kQueueSize) return;
        self->m_queue[(self->m_queueHead + self->m_queueCount) % kQueueSize] = {message, wParam,
                                                                                lParam};
        ++self->m_queueCount;
    }
    self->m_loop.Wake();
}

void ConsoleView::DeliverPosted() {
    for (;;) {
        WindowMessage msg;
        {
            std::lock_guard lock(m_queueMutex);
            if (m_queueCount == 0) return;
            msg = m_queue[m_queueHead];
            m_queueHead = (m_queueHead + 1) % kQueueSize;
            --m_queueCount;
        }
        if (m_dlg) m_dlg->PreTranslateMessage(msg);
    }
}

bool ConsoleView::RunOnce(int timeoutMs) {
    const int64_t end = MonotonicMillis() + timeoutMs;
    for (;;) {
        const int64_t left = end - MonotonicMillis();
        if (left <= 0) return true;
        const unsigned ready = m_loop.Wait(static_cast<int>(left));
        if (ready & CConsoleLoop::kFailed) return false;
        if (m_stopFlag && *m_stopFlag) return true;
        // Posted messages go before the timer, as in a window's queue.
        if (ready & CConsoleLoop::kPosted) DeliverPosted();
        if (ready & CConsoleLoop::kTimer) {
            if (m_timerRunning && m_dlg) m_dlg->OnTimer(m_timerId);
            return true;
        }
    }
}

void ConsoleView::StartTimer(unsigned id, unsigned periodMs, unsigned firstMs) {
    m_timerId = id;
    m_timerRunning = m_loop.StartTimer(firstMs, periodMs);
}

void ConsoleView::StopTimer(unsigned) {
    m_loop.StopTimer();
    m_timerRunning = false;
}

void ConsoleView::OnSettingsNotStored(const std::string &path, const std::string &why) {
    fprintf(m_logStream, "loopctl: %sthe port was not stored in %s: %s\n", m_prefix.c_str(),
            path.c_str(), why.c_str());
    fflush(m_logStream);
}

void ConsoleView::ShowWarning(const std::string &text) {
    ShowBox("", text);
}

void ConsoleView::ShowError(const std::string &caption, const std::string &text) {
    ShowBox(caption + ": ", text);
}

void ConsoleView::ShowBox(const std::string &caption, const std::string &text) {
    // One line per box: its line breaks (an empty line, too) become a space.
    std::string line;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            if (!line.empty() && line.back() != ' ') line += ' ';
        } else {
            line += c;
        }
    }
    std::lock_guard lock(m_boxMutex);
    m_boxes.push_back(line);
    fprintf(m_logStream, "loopctl: %s%s%s\n", m_prefix.c_str(), caption.c_str(), line.c_str());
    fflush(m_logStream);
}

std::vector<std::string> ConsoleView::Boxes() const {
    std::lock_guard lock(m_boxMutex);
    return m_boxes;
}

std::string ConsoleView::GetFieldText(int id) {
    const auto it = m_fields.find(id);
    return it == m_fields.end() ? std::string() : it->second;
}

int ConsoleView::GetPortSelection() {
    return m_pinnedSelection >= 0 ? m_pinnedSelection : m_selection;
}

void ConsoleView::SetLogText(const std::string &text) {
    // The dialog sets the whole text after each entry it appends; the new
    // entry is what follows the last CR LF.
    const size_t at = text.rfind("\r\n");
    if (at == std::string::npos) return;
    const std::string entry = text.substr(at + 2);
    fprintf(m_logStream, "%s%s\n", m_prefix.c_str(), entry.c_str());
    fflush(m_logStream);
}
