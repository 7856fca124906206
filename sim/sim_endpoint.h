// Where the simulated device meets its client: the master side of a new
// pseudo-terminal (the client opens the slave path), or a real serial device.
#pragma once

#include <cstddef>
#include <cstdio>

#include "sim_session.h"

struct SimEndpoint {
    int fd = -1;
    bool isPty = false;
    char path[256] = {};  // what the client opens
};

// Both give false with a reason in error.
bool OpenPseudoTerminal(SimEndpoint &endpoint, char *error, size_t errorSize);
bool OpenSerialDevice(const char *path, SimEndpoint &endpoint, char *error, size_t errorSize);
void CloseEndpoint(SimEndpoint &endpoint);

// Serves requests until stopFd becomes readable or the pipe readerFd (-1 for
// none) loses its reader (0), or the device fails (1). Sleeps in poll: on the
// next byte, the next due piece, or the stop request.
int ServeEndpoint(SimEndpoint &endpoint, CSimSession &session, int stopFd, int readerFd, FILE *log);

int64_t MonotonicUs();
