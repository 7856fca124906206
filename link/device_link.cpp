// Construction, transport selection (Open) and the send path.
#include "device_link.h"

#include <cstdio>
#include <cstring>

namespace {

// The serial line speeds the device and portlink both accept.
constexpr int32_t kBaudRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// Line-control word 3: 8 data bits, no parity, one stop bit.
constexpr int32_t kLine8N1 = 3;

// The message texts are formatted into 256 bytes, as the window shows them.
constexpr size_t kMessageSize = 256;

constexpr char kBadBaudRate[] = "사용할 수 없는 전송 속도 입니다.";
constexpr char kCannotOpen[] =
    "시리얼 포트 COM %d를(을) 열수 없습니다.\r\n\r\n환경 설정에서 사용할 포트를 선택 "
    "해주세요.";
constexpr char kBadIpSettings[] = "%.*s:%d IP 설정 오류";

// The shortest dotted address, "1.2.3.4".
constexpr size_t kMinHostLength = 7;

bool IsSupportedBaudRate(int32_t rate) {
    for (int32_t r : kBaudRates)
        if (r == rate) return true;
    return false;
}

}  // namespace

CDeviceLink::CDeviceLink(const PortlinkApi &api, ILinkMessages *messages)
    : m_tcp(*this, m_loss, messages), m_api(api), m_messages(messages) {}

CDeviceLink::~CDeviceLink() {
    // Its receive worker delivers into this object's fields.
    m_tcp.Stop();
    m_api.closecom(m_nPort);
    // A holder that changed m_nPort without opening it again would otherwise
    // leave the port of the last Open, and its listener posting to a window
    // that is about to go away, running.
    if (m_nOpenPort != m_nPort) m_api.closecom(m_nOpenPort);
}

void CDeviceLink::UseHost(const std::string &host, int32_t port) {
    std::memset(m_szHost, 0, sizeof m_szHost);
    host.copy(m_szHost, sizeof m_szHost - 1);
    m_nTcpPort = port;
}

void CDeviceLink::Warn(LinkWarning which, const char *text, const std::string &first,
                       const std::string &second) {
    if (m_messages)
        m_messages->ShowLinkWarning(which, text, first, second);
    else
        std::fprintf(stderr, "%s\n", text);
}

void CDeviceLink::Open(uint8_t transport, PortlinkWindow *ownerWindow) {
    m_nTransport = transport;
    m_hOwner = ownerWindow;
    m_loss.Clear();
    if (transport == LINK_SERIAL)
        OpenSerial();
    else if (transport == LINK_TCP)
        OpenTcp();
}

void CDeviceLink::OpenSerial() {
    m_api.closecom(m_nOpenPort);
    m_nOpenPort = m_nPort;
    if (!IsSupportedBaudRate(m_nBaudRate)) {
        m_nOpenResult = -1;
        Warn(LinkWarning::BadBaudRate, kBadBaudRate);
        return;
    }
    m_api.closecom(m_nPort);
    m_api.initcom(m_hOwner);
    const int32_t opened = m_api.opencom(m_nPort);
    m_nOpenResult = opened;
    // The line settings and notification are requested even when the open
    // failed: each call fails harmlessly on a closed port.
    m_api.setcom(m_nPort, kLine8N1, m_nBaudRate);
    m_api.setmdm(m_nPort, 0);
    m_api.flowcom(m_nPort, 0);
    m_api.ondata(m_nPort, 1);
    if (opened != 0) {
        char text[kMessageSize];
        std::snprintf(text, sizeof text, kCannotOpen, static_cast<int>(m_nPort));
        Warn(LinkWarning::CannotOpenPort, text, std::to_string(m_nPort));
    }
}

void CDeviceLink::OpenTcp() {
    // The holder may have filled all 16 bytes of the host without a NUL.
    const size_t hostLength = strnlen(m_szHost, sizeof m_szHost);
    if (hostLength >= kMinHostLength && m_nTcpPort != 0) {
        m_tcp.StartSend(m_szHost, m_nTcpPort, nullptr, 0);
        return;
    }
    char text[kMessageSize];
    std::snprintf(text, sizeof text, kBadIpSettings, static_cast<int>(hostLength), m_szHost,
                  static_cast<int>(m_nTcpPort));
    Warn(LinkWarning::BadIpSettings, text, std::string(m_szHost, hostLength),
         std::to_string(m_nTcpPort));
}

int32_t CDeviceLink::Send(const uint8_t *bytes, int32_t length) {
    const int32_t count = static_cast<int32_t>(static_cast<uint32_t>(length) & 0xFFFFu);
    // A new exchange: whatever was lost is news only if it is lost again.
    m_loss.Clear();
    if (m_nTransport == LINK_SERIAL) return m_api.writecom(m_nPort, bytes, count);
    if (m_nTransport == LINK_TCP) m_tcp.StartSend(m_szHost, m_nTcpPort, bytes, count);
    return 0;
}
