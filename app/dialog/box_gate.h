// Message boxes asked for on worker threads run on the UI thread, and the
// worker waits until its box is closed or the window goes away. Held by a
// shared_ptr, so that a worker still waiting when the window goes away keeps
// the gate alive and is released. Box is the window's own description of a
// box (its kind and texts in the toolkit's string type).
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

template <typename Box>
class CBoxGate {
public:
    // Worker side: queues box, asks the UI thread to run the queue with wake()
    // (false when it cannot be asked: nobody would ever close the box), and
    // waits. Returns at once once the window is going away. The gate comes by
    // value: the window's own pointer dies with the window while this worker
    // may still be waking from the wait.
    template <typename Wake>
    static void ShowAndWait(std::shared_ptr<CBoxGate> gate, Box box, Wake wake) {
        auto request = std::make_shared<Request>(Request{std::move(box)});
        {
            std::lock_guard lock(gate->m_mutex);
            if (gate->m_closing) return;
            gate->m_pending.push_back(request);
        }
        if (!wake()) {
            std::lock_guard lock(gate->m_mutex);
            std::erase(gate->m_pending, request);
            return;
        }
        std::unique_lock lock(gate->m_mutex);
        gate->m_done.wait(lock, [&] { return request->done || gate->m_closing; });
    }

    // UI side: runs each queued box with run(box) and releases its worker.
    // The request travels under the lock, never inside the toolkit's call.
    template <typename Run>
    void RunPending(Run run) {
        for (;;) {
            std::shared_ptr<Request> request;
            {
                std::lock_guard lock(m_mutex);
                if (m_pending.empty()) return;
                request = m_pending.front();
                m_pending.pop_front();
            }
            run(request->box);
            {
                std::lock_guard lock(m_mutex);
                request->done = true;
            }
            m_done.notify_all();
        }
    }

    // The window goes away: every waiting worker is released, and a later
    // request returns at once (the link joins its workers after this).
    void Close() {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_done.notify_all();
    }

private:
    struct Request {
        Box box;
        bool done = false;
    };
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::deque<std::shared_ptr<Request>> m_pending;
    bool m_closing = false;
};
