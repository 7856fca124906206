// Whether a serial device is held by someone else, asked one way by every
// program of the product: the library's own open, the port list's "in use",
// loopctl's account of a failed open. Its own small library with the device
// table, since the programs reach the shared library only through its C API.
#pragma once

namespace portlink {

// Opens path and makes sure nobody else has it: our own lock (which also stops
// root and a second open in this process) and another program's TIOCEXCL
// (which does not stop root by itself). Answers the fd or -errno; ENOTTY for
// something that is no terminal, EBUSY for a device someone else holds.
int OpenExclusive(const char *path);

// The same open, closed again at once: 0 when the device is ours to have,
// otherwise the errno value OpenExclusive would answer.
int ProbeExclusive(const char *path);

}  // namespace portlink
