#include "console_view.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

ConsoleView::ConsoleView(FILE *logStream) : m_logStream(logStream) {
    m_eventFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
}

ConsoleView::~ConsoleView() {
    // The dialog (and with it the port and its listener) is gone before the
    // view: nothing posts any more.
    if (m_timerFd >= 0) close(m_timerFd);
    if (m_eventFd >= 0) close(m_eventFd);
}

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
    const uint64_t one = 1;
    // Never blocks: the counter would have to reach 2^64 - 1 first.
    [[maybe_unused]] ssize_t n = write(self->m_eventFd, &one, sizeof one);
}

void ConsoleView::DeliverPosted() {
    uint64_t count;
    [[maybe_unused]] ssize_t n = read(m_eventFd, &count, sizeof count);
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
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long elapsed =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsed >= timeoutMs) return true;

        pollfd fds[2] = {{m_eventFd, POLLIN, 0}, {m_timerFd, POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(timeoutMs - elapsed));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        // Posted messages go before the timer, as in a window's queue.
        if (fds[0].revents & POLLIN) DeliverPosted();
        if (fds[1].revents & POLLIN) {
            uint64_t expirations;
            [[maybe_unused]] ssize_t n = read(m_timerFd, &expirations, sizeof expirations);
            // Missed periods are one tick, as a window's timer coalesces them.
            if (m_timerRunning && m_dlg) m_dlg->OnTimer(m_timerId);
            return true;
        }
    }
}

void ConsoleView::StartTimer(unsigned id, unsigned periodMs) {
    m_timerId = id;
    itimerspec spec{};
    spec.it_interval.tv_sec = periodMs / 1000;
    spec.it_interval.tv_nsec = static_cast<long>(periodMs % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    m_timerRunning = timerfd_settime(m_timerFd, 0, &spec, nullptr) == 0;
}

void ConsoleView::ShowWarning(const std::string &text) {
    ShowError("loopctl", text);
}

void ConsoleView::ShowError(const std::string &caption, const std::string &text) {
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
    fprintf(m_logStream, "%s: %s\n", caption.c_str(), line.c_str());
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
    fprintf(m_logStream, "%s\n", entry.c_str());
    fflush(m_logStream);
    const size_t tab = entry.find('\t');
    m_entries.push_back(tab == std::string::npos ? entry : entry.substr(tab + 1));
}

std::string ComDevicePath(int port) {
    const std::string name = "PORTLINK_COM" + std::to_string(port);
    if (const char *path = getenv(name.c_str()); path && *path) return path;
    if (port >= 1 && port <= 10) return "/dev/ttyS" + std::to_string(port - 1);
    if (port >= 11 && port <= 20) return "/dev/ttyUSB" + std::to_string(port - 11);
    if (port >= 21 && port <= 30) return "/dev/ttyACM" + std::to_string(port - 21);
    return "/dev/ttyS" + std::to_string(port - 1);
}
