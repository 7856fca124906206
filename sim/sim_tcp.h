// The simulated device behind a TCP port on the loopback interface, as a
// serial-to-network converter in front of a real device would put it: any
// number of clients, each with its own byte stream, all talking to one device.
#pragma once

#include <cstddef>
#include <cstdio>

#include "sim_control.h"
#include "sim_device.h"
#include "sim_options.h"

// Listens on 127.0.0.1:port (0: a free port). Gives the socket, or -1 with a
// reason in error; address gets "127.0.0.1:PORT".
int OpenTcpListener(int port, char *address, size_t addressSize, char *error, size_t errorSize);

// Serves clients until stopFd becomes readable or the pipe readerFd (-1 for
// none) loses its reader (0), or listening fails (1). Sleeps in poll.
// control may be nullptr.
int ServeTcp(int listenFd, CSimDevice &device, const SimOptions &options, int stopFd, int readerFd,
             FILE *log, CSimControl *control);
