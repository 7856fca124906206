// Whether the line under the link went away, and why: set by whichever
// thread sees it (a TCP worker, or the UI thread's serial read), read by the
// holder. The reason lives in a fixed buffer, so reporting allocates nothing.
#pragma once

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

class CLinkLoss {
public:
    // The first reason stands until Clear: what follows a loss (the failed
    // sends after a reset, say) is its consequence, not its cause.
    // The reason is the two texts joined ("recv(): " and the system's text).
    void Set(const char *what, const char *detail = "") {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_lost.load()) return;
        std::snprintf(m_reason, sizeof m_reason, "%s%s", what, detail);
        m_lost.store(true);
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_lock);
        m_lost.store(false);
        m_reason[0] = '\0';
    }
    bool Get(std::string *reason) const {
        // Polled on every timer tick: no lock while nothing was lost.
        if (!m_lost.load()) return false;
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_lost.load()) return false;
        if (reason) *reason = m_reason;
        return true;
    }

private:
    std::atomic<bool> m_lost{false};
    mutable std::mutex m_lock;
    char m_reason[256] = {};
};
