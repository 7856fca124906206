// The far end of the link's TCP tests: a listener on 127.0.0.1 and the
// peers it accepts, in the socket layer's neutral types so that the tests
// themselves see no system socket header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "socket_layer.h"

// Listens at a port of the system's choosing; the kernel completes a client's
// connect even before an accept.
SocketHandle ListenLoopback(uint16_t *port);
// Whether a read (or, on a listener, an accept) would not wait, within ms.
bool Readable(SocketHandle socket, int ms = 10000);
// The next peer, once one connects within 10 s; reads on it give up after 10 s.
SocketHandle AcceptPeer(SocketHandle listener);
// Up to n bytes, fewer only when the peer ends or 10 s pass.
std::vector<uint8_t> ReadPeer(SocketHandle peer, size_t n);
// Bytes written, or -1.
long WritePeer(SocketHandle peer, const void *bytes, size_t n);
void ClosePeer(SocketHandle peer);
// A port nobody listens on (one that was just free).
inline uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    ClosePeer(ListenLoopback(&port));
    return port;
}
// Closes with a reset, as a crashed peer would; false where the system may
// end the stream in order first.
bool ResetPeer(SocketHandle peer);

extern const int32_t kPeerResetCode;
extern const int32_t kOutOfSocketsCode;

// The process's resident memory in KiB, as the system counts it.
long ResidentKiB();
