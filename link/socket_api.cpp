// What the socket layer does the same on every platform.
#include "socket_api.h"

#include <cstdio>

const SocketApi &RealSockets() {
    static const SocketApi api = {OpenTcpSocket, ConnectSocket,  SendSocket,
                                  ReceiveSocket, ShutdownSocket, CloseSocket};
    return api;
}

std::string DottedText(Ipv4Address address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address.value >> 24,
                  (address.value >> 16) & 0xFFu, (address.value >> 8) & 0xFFu,
                  address.value & 0xFFu);
    return text;
}

bool ResolveIPv4(const std::string &host, std::string *dotted, std::string *error) {
    Ipv4Address address;
    SocketError failure;
    if (!ResolveHost(host.c_str(), &address, &failure)) {
        if (error) *error = SocketErrorText(failure);
        return false;
    }
    if (dotted) *dotted = DottedText(address);
    return true;
}
