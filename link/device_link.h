// CDeviceLink: the one object through which the dialog exchanges frames with
// the device, over a serial port (portlink) or a TCP connection.
#pragma once

#include <atomic>
#include <cstdint>

#include "link_messages.h"
#include "portlink_api.h"

enum : uint8_t { LINK_SERIAL = 1, LINK_TCP = 2 };

class CDeviceLink {
public:
    static constexpr int kBufferSize = 65536;

    explicit CDeviceLink(const PortlinkApi &api = RealPortlink(), ILinkMessages *messages = nullptr);
    ~CDeviceLink();
    CDeviceLink(const CDeviceLink &) = delete;
    CDeviceLink &operator=(const CDeviceLink &) = delete;

    void SetMessages(ILinkMessages *messages) { m_messages = messages; }

    void Open(uint8_t transport, PortlinkWindow *ownerWindow);
    int32_t Send(const uint8_t *bytes, int32_t length);
    void ReadSerial();
    void Tick();

    // Fields, in the order the holder knows them.
    PortlinkWindow *m_hOwner = nullptr;
    uint8_t m_nPort = 0;
    uint8_t m_nOpenPort = 0;
    int32_t m_nBaudRate = 0;
    char m_szHost[16] = {};
    int32_t m_nTcpPort = 0;
    int m_socket = -1;
    uint8_t m_txBuffer[kBufferSize] = {};
    int32_t m_nTxLength = 0;
    std::atomic<int32_t> m_bSending{0};
    uint8_t m_nTransport = 0;
    uint8_t m_rxBuffer[kBufferSize] = {};
    uint8_t m_frameBuffer[kBufferSize] = {};
    int32_t m_nRxCount = 0;
    int32_t m_nExpectedLength = 0;
    int32_t m_nFrameLength = 0;
    std::atomic<uint8_t> m_bConnected{0};
    int32_t m_nIdleTicks = 6;
    int32_t m_nFramesReady = 0;

private:
    const PortlinkApi &m_api;
    ILinkMessages *m_messages = nullptr;
};
