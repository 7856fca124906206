// What both socket layers do alike with the system's IPv4 addresses, whose
// structures and byte-order calls are the same on every system. It brings the
// system's socket headers along: only the socket layer's own files include it.
#pragma once

#include "socket_layer.h"
#include "socket_system.h"

// The system's address of an endpoint, for connect.
sockaddr_in SocketAddressOf(const Ipv4Endpoint &endpoint);

// A host given as dotted text. inet_addr, not inet_pton: the short forms
// ("127.1") count as dotted too. False for a name, and for 255.255.255.255,
// which reads as "no address" and is looked up as a name.
bool DottedAddress(const char *host, Ipv4Address *address);

// The address of the resolver's answer.
Ipv4Address AddressOf(const sockaddr *found);
