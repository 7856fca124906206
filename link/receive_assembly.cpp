// Receive assembly: gathering arrived bytes in m_rxBuffer, recognising a
// frame's start and length, and completing one frame per Tick.
#include <cstdio>
#include <cstring>

#include "device_link.h"
#include "frames.h"
#include "portlink.h"

void CDeviceLink::TakeFrameStart(bool tcp) {
    if (m_nRxCount < kMinFrameStart || m_rxBuffer[0] != STX) return;
    // Over TCP a frame start counts only once the bytes so far end with ETX.
    if (tcp && m_rxBuffer[m_nRxCount - 1] != ETX) return;
    m_nExpectedLength = ReadBe16(m_rxBuffer, kOffsetLength);
}

bool CDeviceLink::HoldsAwaitedStart() const {
    if (m_nAwaitedLength <= 0 || m_nRxCount <= 0 || m_rxBuffer[0] != STX) return false;
    // The length is not in yet: the piece is too short to rule anything out.
    if (m_nRxCount < static_cast<int32_t>(kOffsetLength) + 2) return true;
    const int32_t length = ReadBe16(m_rxBuffer, kOffsetLength);
    return length >= static_cast<int32_t>(kFramingSize) && length <= m_nAwaitedLength &&
           m_nRxCount < length;
}

void CDeviceLink::BeginArrival() {
    if (m_nIdleTicks < kIdleGap) return;
    if (HoldsAwaitedStart()) {
        m_bAcrossPause = true;
        return;
    }
    // After a pause the next bytes begin a new frame: whatever waited (a
    // completed frame's surplus, noise, a frame cut short) is gone.
    m_nDiscarded += static_cast<uint32_t>(m_nRxCount > 0 ? m_nRxCount : 0);
    m_nRxCount = 0;
    m_bAcrossPause = false;
}

void CDeviceLink::SkipToFrameStart(int32_t from) {
    int32_t at = from;
    while (at < m_nRxCount && m_rxBuffer[at] != STX) ++at;
    if (at == 0) return;
    m_nDiscarded += static_cast<uint32_t>(at);
    m_nRxCount -= at;
    std::memmove(m_rxBuffer, &m_rxBuffer[at], static_cast<size_t>(m_nRxCount));
    m_nExpectedLength = 0;
    if (m_nRxCount == 0) m_bAcrossPause = false;
}

bool CDeviceLink::FrameHoldsTogether(int32_t length) const {
    if (length < static_cast<int32_t>(kFramingSize)) return false;
    return m_rxBuffer[length - 1] == ETX &&
           XorChecksum(m_rxBuffer, static_cast<size_t>(length - 2)) == m_rxBuffer[length - 2];
}

void CDeviceLink::AwaitAnswer(int32_t maxLength) {
    std::lock_guard<std::mutex> lock(m_rxLock);
    m_nAwaitedLength = maxLength > 0 ? maxLength : 0;
}

uint32_t CDeviceLink::TakeDiscarded() {
    std::lock_guard<std::mutex> lock(m_rxLock);
    const uint32_t discarded = m_nDiscarded;
    m_nDiscarded = 0;
    return discarded;
}

void CDeviceLink::ReadSerial() {
    // Serial arrivals and Tick both run on the UI thread; the lock only matters
    // when a TCP receive worker of an earlier Open is still delivering.
    std::lock_guard<std::mutex> lock(m_rxLock);
    BeginArrival();
    // Count 0 asks for everything waiting, at most 10,000 bytes, so the read
    // stays inside m_rxBuffer as long as no more than kSerialLimit bytes are
    // gathered. Only TCP arrivals (up to the whole buffer, just before a switch
    // to serial) or a holder's stray write can leave more: start afresh then.
    if (m_nRxCount < 0 || m_nRxCount > kSerialLimit) {
        m_nDiscarded += static_cast<uint32_t>(m_nRxCount > 0 ? m_nRxCount : 0);
        m_nRxCount = 0;
    }
    int32_t count = 0;
    const int32_t result = m_api.readcom(m_nPort, &m_rxBuffer[m_nRxCount], &count);
    // portlink answers this on a port whose device hung up; the holder would
    // otherwise only learn of it when its wait for the answer ran out. The
    // read still counts as an arrival of no bytes, as any failed read does.
    if (result == PORTLINK_FAILED) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "readcom answered %d (the port hung up)",
                      static_cast<int>(result));
        m_loss.Set(reason);
    }
    const auto n = static_cast<int32_t>(static_cast<uint32_t>(count) & 0xFFFFu);
    if (n > 0) m_arrivals.fetch_add(1, std::memory_order_relaxed);
    m_nRxCount += n;
    if (m_nRxCount > kSerialLimit) {
        m_nDiscarded += static_cast<uint32_t>(m_nRxCount);
        m_nRxCount = 0;
    }
    m_nIdleTicks = 0;
    m_bLastArrivalTcp = false;
    SkipToFrameStart(0);
    TakeFrameStart(false);
}

void CDeviceLink::TcpArrival(const uint8_t *bytes, int32_t n) {
    if (n <= 0 || !bytes) return;
    if (n > kBufferSize) n = kBufferSize;
    std::lock_guard<std::mutex> lock(m_rxLock);
    BeginArrival();
    // A chunk that would not fit behind what is gathered starts afresh, as the
    // serial path drops a count above its limit: no device frame comes near
    // that size, so what filled the buffer is garbage.
    if (m_nRxCount < 0 || m_nRxCount > kBufferSize - n) {
        m_nDiscarded += static_cast<uint32_t>(m_nRxCount > 0 ? m_nRxCount : 0);
        m_nRxCount = 0;
    }
    std::memcpy(&m_rxBuffer[m_nRxCount], bytes, static_cast<size_t>(n));
    m_nRxCount += n;
    m_nIdleTicks = 0;
    m_bLastArrivalTcp = true;
    m_arrivals.fetch_add(1, std::memory_order_relaxed);
    SkipToFrameStart(0);
    TakeFrameStart(true);
}

void CDeviceLink::ResetRxCount() {
    std::lock_guard<std::mutex> lock(m_rxLock);
    m_nDiscarded += static_cast<uint32_t>(m_nRxCount > 0 ? m_nRxCount : 0);
    m_nRxCount = 0;
    m_bAcrossPause = false;
}

std::span<const uint8_t> CDeviceLink::TakeFrame() {
    if (m_nFramesReady == 0) return {};
    m_nFramesReady = 0;
    return {m_frameBuffer, static_cast<size_t>(m_nFrameLength)};
}

void CDeviceLink::Tick() {
    std::lock_guard<std::mutex> lock(m_rxLock);
    if (m_nIdleTicks < kIdleGap) ++m_nIdleTicks;
    if (m_nTransport == 0) return;
    if (m_nExpectedLength == 0 || m_nRxCount < m_nExpectedLength) return;

    while (m_bAcrossPause && !FrameHoldsTogether(m_nExpectedLength)) {
        // The piece kept across the pause was not this frame's start (a frame
        // cut short, then a whole one): gathering goes on from the next STX.
        SkipToFrameStart(1);
        TakeFrameStart(m_bLastArrivalTcp);
        if (m_nExpectedLength == 0 || m_nRxCount < m_nExpectedLength) return;
    }
    const int32_t length = m_nExpectedLength;
    m_nRxCount -= length;
    std::memcpy(m_frameBuffer, m_rxBuffer, static_cast<size_t>(length));
    m_frameBuffer[length] = 0;
    // The surplus waits at index 0 only until the next arrival, which starts
    // again at index 0 because of the idle count below.
    std::memmove(m_rxBuffer, &m_rxBuffer[length], static_cast<size_t>(m_nRxCount));
    ++m_nFramesReady;
    m_nFrameLength = length;
    m_nExpectedLength = 0;
    m_nIdleTicks = kIdleAfterFrame;
    m_bAcrossPause = false;
}
