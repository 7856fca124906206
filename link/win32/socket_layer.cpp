// The socket layer on Windows: Winsock 2, a manual-reset event as the stop
// event, GetAddrInfoW for names, and the system's message table for texts.
#include "socket_layer.h"

#include <string>

#include "socket_address.h"
#include "system_error.h"
#include "text_utf16.h"

namespace {

// Winsock is started once per process, by whichever thread needs it first;
// a function-local static makes the start thread-safe, and its end runs
// after main has returned.
class CWinsock {
public:
    CWinsock() : m_error(WSAStartup(MAKEWORD(2, 2), &m_data)) {}
    ~CWinsock() {
        if (m_error == 0) WSACleanup();
    }
    CWinsock(const CWinsock &) = delete;
    CWinsock &operator=(const CWinsock &) = delete;
    // 0, or the start's own error (WSAStartup does not set the last error).
    int Error() const { return m_error; }

private:
    WSADATA m_data{};
    int m_error;
};

int WinsockError() {
    static CWinsock winsock;
    return winsock.Error();
}

SOCKET Sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

HANDLE EventOf(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

SocketError Failure(int code) {
    return {code == WSAEISCONN ? SocketFault::kAlreadyConnected : SocketFault::kFailed,
            static_cast<int32_t>(code), false};
}

SocketError LastFailure() {
    return Failure(WSAGetLastError());
}

// Back to a plain blocking socket: the event selection made it non-blocking,
// and FIONBIO is refused while a selection stands.
void EndEventSelect(SOCKET socket) {
    WSAEventSelect(socket, nullptr, 0);
    u_long blocking = 0;
    ioctlsocket(socket, FIONBIO, &blocking);
}

}  // namespace

std::string SocketErrorText(const SocketError &error) {
    // The resolver's codes are Winsock's own here: one table serves both.
    const std::string text =
        error.code != 0 ? SystemErrorText(static_cast<uint32_t>(error.code)) : "";
    return text.empty() ? "Socket error " + std::to_string(error.code) : text;
}

bool CStopEvent::Create() {
    if (m_handle < 0) {
        // Manual reset: once signalled it stays so, and every later wait of
        // every worker ends at once, as the link's end needs.
        const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (event) m_handle = reinterpret_cast<std::intptr_t>(event);
    }
    return m_handle >= 0;
}

void CStopEvent::Close() {
    if (m_handle >= 0) CloseHandle(EventOf(m_handle));
    m_handle = -1;
}

void CStopEvent::Signal() {
    if (m_handle >= 0) SetEvent(EventOf(m_handle));
}

bool CStopEvent::Wait(int ms) const {
    const DWORD limit = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
    // Without an event the wait only sleeps.
    if (m_handle < 0) {
        Sleep(limit);
        return false;
    }
    return WaitForSingleObject(EventOf(m_handle), limit) == WAIT_OBJECT_0;
}

SocketHandle OpenTcpSocket(SocketError *error) {
    if (const int started = WinsockError()) {
        *error = Failure(started);
        return kNoSocket;
    }
    // Not inherited by programs this process starts, like SOCK_CLOEXEC;
    // overlapped like socket()'s, so that sends and receives can be cancelled.
    SOCKET socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                               WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    // Systems before Windows 7 SP1 refuse the flag.
    if (socket == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL)
        socket = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
    if (socket == INVALID_SOCKET) {
        *error = LastFailure();
        return kNoSocket;
    }
    return static_cast<SocketHandle>(socket);
}

SocketError ConnectSocket(SocketHandle socket, const Ipv4Endpoint &to, const CStopEvent &stop) {
    const sockaddr_in address = SocketAddressOf(to);
    const SOCKET s = Sock(socket);
    // The connect's completion comes as an event, waited on beside the stop
    // event. (WSAPoll would do, but older systems never report a failed
    // connect through it.)
    const WSAEVENT connected = WSACreateEvent();
    if (connected == WSA_INVALID_EVENT) return LastFailure();
    // The selection also makes the socket non-blocking, for the connect only.
    if (WSAEventSelect(s, connected, FD_CONNECT) != 0) {
        const SocketError failure = LastFailure();
        WSACloseEvent(connected);
        return failure;
    }
    int error = 0;
    bool cancelled = false;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            // The stop event first: when both are set, the link's end wins.
            const bool stoppable = stop.Handle() >= 0;
            const HANDLE waits[2] = {EventOf(stop.Handle()), connected};
            const DWORD woke =
                WaitForMultipleObjects(stoppable ? 2 : 1, waits + !stoppable, FALSE, INFINITE);
            const DWORD done = WAIT_OBJECT_0 + (stoppable ? 1 : 0);
            WSANETWORKEVENTS events{};
            cancelled = stoppable && woke == WAIT_OBJECT_0;
            if (cancelled)
                error = WSAEINTR;
            else if (woke != done)
                error = static_cast<int>(GetLastError());
            else if (WSAEnumNetworkEvents(s, connected, &events) != 0)
                error = WSAGetLastError();
            else
                error = events.iErrorCode[FD_CONNECT_BIT];
        }
    }
    EndEventSelect(s);
    WSACloseEvent(connected);
    if (cancelled) return {SocketFault::kCancelled, error, false};
    if (error == 0) return {};
    return Failure(error);
}

int32_t SendSocket(SocketHandle socket, const void *bytes, int32_t length, SocketError *error) {
    const int n = ::send(Sock(socket), static_cast<const char *>(bytes), length, 0);
    if (n == SOCKET_ERROR) {
        *error = LastFailure();
        return -1;
    }
    return n;
}

int32_t ReceiveSocket(SocketHandle socket, void *buffer, int32_t size, SocketError *error) {
    const int n = ::recv(Sock(socket), static_cast<char *>(buffer), size, 0);
    if (n == SOCKET_ERROR) {
        *error = LastFailure();
        return -1;
    }
    return n;
}

void ShutdownSocket(SocketHandle socket) {
    const SOCKET s = Sock(socket);
    ::shutdown(s, SD_BOTH);
    // A shutdown alone need not end a receive or a send already waiting on
    // another thread; cancelling the socket's I/O does, whichever thread
    // started it.
    CancelIoEx(reinterpret_cast<HANDLE>(s), nullptr);
}

void CloseSocket(SocketHandle socket) {
    ::closesocket(Sock(socket));
}

bool ResolveHost(const char *host, Ipv4Address *address, SocketError *error) {
    *address = kNoAddress;
    if (const int started = WinsockError()) {
        *error = Failure(started);
        return false;
    }
    if (DottedAddress(host, address)) return true;
    ADDRINFOW hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW *found = nullptr;
    // Names arrive as UTF-8 and are looked up in UTF-16: the ANSI code page
    // could not carry every name.
    const int result = GetAddrInfoW(Utf8ToUtf16(host).c_str(), nullptr, &hints, &found);
    if (result != 0 || !found) {
        *error = {SocketFault::kFailed, result != 0 ? result : WSAHOST_NOT_FOUND, true};
        if (found) FreeAddrInfoW(found);
        return false;
    }
    *address = AddressOf(found->ai_addr);
    FreeAddrInfoW(found);
    return true;
}
