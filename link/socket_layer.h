// The TCP transport's view of the platform's sockets: a handle, an IPv4
// endpoint, the errors the transport tells apart, a stop event that cuts a
// connect or a pause short, and host resolution. Only the socket layer's own
// files (posix/ or win32/socket_layer.cpp and the socket_address.cpp they
// share) see the system's socket headers; everything that includes this one
// stays free of them.
#pragma once

#include <cstdint>
#include <string>

// Wide enough for a Winsock SOCKET, which is pointer-sized and unsigned; a
// POSIX descriptor converts into it without loss.
using SocketHandle = std::uintptr_t;
// INVALID_SOCKET on Winsock, -1 converted on POSIX.
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};

// An IPv4 address with its first octet in the top byte ("1.2.3.4" is
// 0x01020304), so that no caller ever handles network byte order.
struct Ipv4Address {
    uint32_t value = 0;
    bool operator==(const Ipv4Address &) const = default;
};
// 255.255.255.255: what a failed resolution gives, so the connects to it fail.
inline constexpr Ipv4Address kNoAddress{0xFFFFFFFFu};

struct Ipv4Endpoint {
    Ipv4Address address;
    uint16_t port = 0;
    bool operator==(const Ipv4Endpoint &) const = default;
};

// What the transport acts on; the rest is one kind of failure whose text
// comes from the system's own number.
enum class SocketFault : uint8_t {
    kNone,
    kAlreadyConnected,  // a connect on a connected socket: counts as connected
    kCancelled,         // the stop event ended the wait
    kFailed,
};

struct SocketError {
    SocketFault fault = SocketFault::kNone;
    int32_t code = 0;       // the system's number (errno, WSAGetLastError, ...)
    bool resolver = false;  // code is the resolver's, not the socket layer's
};

// The system's text for an error; "Socket error N" when it has none.
std::string SocketErrorText(const SocketError &error);

// The event that the link's end signals. Created on first use by the
// transport's thread of control, waited on by its workers.
class CStopEvent {
public:
    CStopEvent() = default;
    ~CStopEvent() { Close(); }
    CStopEvent(const CStopEvent &) = delete;
    CStopEvent &operator=(const CStopEvent &) = delete;

    // False when the system has no event to give; waits then only time out.
    bool Create();
    void Close();
    void Signal();
    // Sleeps up to ms; true when the event was (or is) signalled.
    bool Wait(int ms) const;
    std::intptr_t Handle() const { return m_handle; }

private:
    std::intptr_t m_handle = -1;
};

// The socket calls of the transport. Every one answers at once on failure;
// connect waits for the connection in the kernel beside the stop event.
SocketHandle OpenTcpSocket(SocketError *error);
SocketError ConnectSocket(SocketHandle socket, const Ipv4Endpoint &to, const CStopEvent &stop);
// Bytes taken (a short count when a signal cut the send), or -1 with *error.
int32_t SendSocket(SocketHandle socket, const void *bytes, int32_t length, SocketError *error);
// Bytes received, 0 when the peer closed the connection, or -1 with *error.
int32_t ReceiveSocket(SocketHandle socket, void *buffer, int32_t size, SocketError *error);
// Both directions: a worker blocked in send or receive on it returns.
void ShutdownSocket(SocketHandle socket);
void CloseSocket(SocketHandle socket);

// The link's resolution of its host text: a dotted address as such (though
// 255.255.255.255 is looked up by name, since it reads as "no address"),
// otherwise the first IPv4 address the resolver knows for the name.
bool ResolveHost(const char *host, Ipv4Address *address, SocketError *error);

// For holders that must fit a host name into the link's 15 characters: the
// first IPv4 address of host as dotted text ("gw1" -> "10.0.0.5"), or false
// with the resolver's text in *error.
bool ResolveIPv4(const std::string &host, std::string *dotted, std::string *error);

// Dotted text of an address ("1.2.3.4").
std::string DottedText(Ipv4Address address);
