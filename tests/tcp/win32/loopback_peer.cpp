// The test peers on Winsock, and the process counts the tests compare.
#include "loopback_peer.h"

// winsock2.h first, then windows.h, then what builds on it.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <psapi.h>
// clang-format on

#include <cstdlib>
#include <vector>

namespace {

SOCKET Sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// The peers may run before the link has made its first socket.
void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) abort();
}

}  // namespace

const int32_t kPeerResetCode = WSAECONNRESET;
const int32_t kOutOfSocketsCode = WSAEMFILE;

SocketHandle ListenLoopback(uint16_t *port) {
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    auto *named = reinterpret_cast<sockaddr *>(&address);
    if (s == INVALID_SOCKET || bind(s, named, length) || listen(s, 128) ||
        getsockname(s, named, &length))
        abort();
    *port = ntohs(address.sin_port);
    return static_cast<SocketHandle>(s);
}

bool Readable(SocketHandle socket, int ms) {
    WSAPOLLFD wait = {Sock(socket), POLLRDNORM, 0};
    return WSAPoll(&wait, 1, ms) == 1;
}

SocketHandle AcceptPeer(SocketHandle listener) {
    if (!Readable(listener)) return kNoSocket;
    const SOCKET s = accept(Sock(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return kNoSocket;
    const DWORD limit = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&limit), sizeof limit);
    return static_cast<SocketHandle>(s);
}

std::vector<uint8_t> ReadPeer(SocketHandle peer, size_t n) {
    std::vector<uint8_t> got(n);
    size_t read = 0;
    // Chunk by chunk rather than MSG_WAITALL, whose support varies.
    while (read < n) {
        const int chunk = recv(Sock(peer), reinterpret_cast<char *>(got.data() + read),
                               static_cast<int>(n - read), 0);
        if (chunk <= 0) break;
        read += static_cast<size_t>(chunk);
    }
    got.resize(read);
    return got;
}

long WritePeer(SocketHandle peer, const void *bytes, size_t n) {
    return send(Sock(peer), static_cast<const char *>(bytes), static_cast<int>(n), 0);
}

void ClosePeer(SocketHandle peer) {
    if (peer != kNoSocket) closesocket(Sock(peer));
}

bool ResetPeer(SocketHandle peer) {
    const linger reset = {1, 0};
    setsockopt(Sock(peer), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset),
               sizeof reset);
    ClosePeer(peer);
    // Wine may end the stream before the reset goes out: the other end then
    // reads an end, and only its sends meet the reset.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return !(ntdll && GetProcAddress(ntdll, "wine_get_version"));
}

long ResidentKiB() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return static_cast<long>(counters.WorkingSetSize / 1024);
}
