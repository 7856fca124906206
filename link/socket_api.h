// The socket calls of the TCP transport, as a table so that a test can count
// sockets, connects and sends on real loopback connections (or make one call
// fail the way only a real network would).
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

struct SocketApi {
    int (*socket)(int domain, int type, int protocol);
    int (*connect)(int fd, const sockaddr *address, socklen_t length);
    ssize_t (*send)(int fd, const void *bytes, size_t length, int flags);
    ssize_t (*recv)(int fd, void *buffer, size_t size, int flags);
    int (*shutdown)(int fd, int how);
    int (*close)(int fd);
};

// The system's calls.
const SocketApi &RealSockets();
