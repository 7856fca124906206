#include "socket_address.h"

#include <cstring>

sockaddr_in SocketAddressOf(const Ipv4Endpoint &endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    address.sin_addr.s_addr = htonl(endpoint.address.value);
    return address;
}

bool DottedAddress(const char *host, Ipv4Address *address) {
    const auto dotted = inet_addr(host);
    if (dotted == INADDR_NONE) return false;
    *address = {ntohl(dotted)};
    return true;
}

Ipv4Address AddressOf(const sockaddr *found) {
    sockaddr_in first{};
    std::memcpy(&first, found, sizeof first);
    return {ntohl(first.sin_addr.s_addr)};
}
