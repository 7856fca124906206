// The listener layers over CComPort: CComEventPort owns one listener thread
// per open device, CComNotifyPort turns each event into a posted message, and
// CComWndPort (what opencom creates) opens with the host's window struct.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "com_port.h"
#include "notify_target.h"

namespace portlink {

class CComEventPort : public CComPort {
public:
    using CComPort::CComPort;
    // A class that overrides OnCommEvent must stop the listener in its own
    // destructor: the thread calls OnCommEvent until it is joined.
    ~CComEventPort() override;

    // Always opens for bounded waits (the listener needs its waker); the last
    // argument says whether the listener starts now.
    uint32_t Open(const char *name, uint32_t inQueue, uint32_t outQueue,
                  bool startListener) override;
    uint32_t Close() override;
    virtual uint32_t StartListening();
    // Always joins: the stop reaches the listener wherever it is in its loop,
    // so the join is short, and a thread left running would outlive the object
    // it reads. timeoutMs is accepted for callers that pass one.
    virtual uint32_t StopListening(uint32_t timeoutMs);

    bool IsListening() const { return m_hListenThread.joinable(); }

protected:
    // Called on the listener thread with the fired bits (never 0) and the CE_
    // flags of the same pass. A listener that ends by itself (the device went
    // away, or its wait failed) calls it once more with EV_ERR and no CE_
    // flag, so that a host waiting for an answer learns at once that none
    // will come.
    virtual void OnCommEvent(uint32_t events, uint32_t errors) = 0;

    std::atomic<bool> m_stopRequested{false};
    std::thread m_hListenThread;

private:
    void Listen();
};

// Stands in for a message number of 0 in CComNotifyPort::Open.
extern const uint32_t g_defaultNotifyMsg;

class CComNotifyPort : public CComEventPort {
public:
    using CComEventPort::CComEventPort;
    ~CComNotifyPort() override;

    using CComEventPort::Open;
    uint32_t Open(const char *name, NotifyTarget window, uint32_t message, int32_t parameter,
                  uint32_t inQueue, uint32_t outQueue);
    uint32_t Close() override;

    int32_t NotifyParam() const { return m_notifyParam; }

protected:
    void OnCommEvent(uint32_t events, uint32_t errors) override;

    NotifyTarget m_hNotifyWnd{};
    uint32_t m_notifyMsg = 0;
    int32_t m_notifyParam = 0;
};

class CComWndPort : public CComNotifyPort {
public:
    using CComNotifyPort::CComNotifyPort;
    ~CComWndPort() override;

    using CComNotifyPort::Open;
    // A null window gives a window that posts nowhere.
    uint32_t Open(const char *name, HostWindow window, uint32_t message, int32_t parameter,
                  uint32_t inQueue, uint32_t outQueue);
};

}  // namespace portlink
