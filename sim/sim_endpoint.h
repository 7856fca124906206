// Where the simulated device meets its one client: the master side of a new
// pseudo-terminal (the client opens the slave path), or a real serial device.
#pragma once

#include <cstddef>
#include <cstdio>

#include "sim_control.h"
#include "sim_device.h"
#include "sim_options.h"

struct SimEndpoint {
    int fd = -1;
    bool isPty = false;
    // A pty only: our own descriptor of the client's side, and a watch on its
    // node that reports every open and close. Holding the slave keeps the
    // master free of hang-ups: a client that closes and at once reopens loses
    // nothing to a hang-up seen late. It also lets us clear the exclusive flag
    // a killed client leaves behind, which would otherwise refuse every open.
    int slave = -1;
    int watch = -1;
    char path[256] = {};  // what the client opens
};

// Both give false with a reason in error.
bool OpenPseudoTerminal(SimEndpoint &endpoint, char *error, size_t errorSize);
bool OpenSerialDevice(const char *path, SimEndpoint &endpoint, char *error, size_t errorSize);
void CloseEndpoint(SimEndpoint &endpoint);

// Serves requests until stopFd becomes readable or the pipe readerFd (-1 for
// none) loses its reader (0), or the line fails (1). control may be nullptr.
int ServeEndpoint(SimEndpoint &endpoint, CSimDevice &device, const SimOptions &options, int stopFd,
                  int readerFd, FILE *log, CSimControl *control);
