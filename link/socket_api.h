// The socket calls of the TCP transport, as a table so that a test can count
// sockets, connects and sends on real loopback connections (or make one call
// fail the way only a real network would).
#pragma once

#include "socket_layer.h"

struct SocketApi {
    SocketHandle (*socket)(SocketError *error);
    SocketError (*connect)(SocketHandle socket, const Ipv4Endpoint &to, const CStopEvent &stop);
    int32_t (*send)(SocketHandle socket, const void *bytes, int32_t length, SocketError *error);
    int32_t (*recv)(SocketHandle socket, void *buffer, int32_t size, SocketError *error);
    void (*shutdown)(SocketHandle socket);
    void (*close)(SocketHandle socket);
};

// The system's calls.
const SocketApi &RealSockets();
