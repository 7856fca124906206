#include "line_state.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

#include "codes.h"

namespace portlink::posix {
namespace {

struct Speed {
    uint32_t rate;
    tcflag_t bits;
};

// Standard rates keep their Bnnn code, so that tools reading the settings with
// the classic interface see the rate too.
constexpr Speed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

int Get(int fd, termios2 &t) {
    for (;;) {
        if (ioctl(fd, TCGETS2, &t) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

int Set(int fd, const termios2 &t) {
    for (;;) {
        if (ioctl(fd, TCSETS2, &t) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

uint32_t RateOf(const termios2 &t) {
    const tcflag_t speedBits = t.c_cflag & CBAUD;
    if (speedBits == BOTHER) return t.c_ospeed;
    for (const Speed &s : kSpeeds) {
        if (s.bits == speedBits) return s.rate;
    }
    return 0;
}

}  // namespace

int GetLineState(int fd, LineState &state) {
    termios2 t{};
    if (const int err = Get(fd, t)) return err;
    state.baudRate = RateOf(t);
    switch (t.c_cflag & CSIZE) {
        case CS5:
            state.byteSize = 5;
            break;
        case CS6:
            state.byteSize = 6;
            break;
        case CS7:
            state.byteSize = 7;
            break;
        default:
            state.byteSize = 8;
            break;
    }
    const bool odd = (t.c_cflag & PARODD) != 0;
    if (t.c_cflag & CMSPAR) {
        state.parity = odd ? kMarkParity : kSpaceParity;
    } else {
        state.parity = odd ? kOddParity : kEvenParity;
    }
    state.parityEnabled = (t.c_cflag & PARENB) != 0;
    if (!state.parityEnabled) state.parity = kNoParity;
    if (t.c_cflag & CSTOPB) {
        state.stopBits = state.byteSize == 5 ? kOne5StopBits : kTwoStopBits;
    } else {
        state.stopBits = kOneStopBit;
    }
    if (t.c_cflag & CRTSCTS) {
        state.flow = kFlowHardware;
    } else if ((t.c_iflag & IXON) && (t.c_iflag & IXOFF)) {
        state.flow = kFlowSoftware;
    } else {
        state.flow = kFlowNone;
    }
    return 0;
}

int SetLineState(int fd, const LineState &state) {
    // Rate 0 would hang the line up rather than set a speed.
    if (state.baudRate == 0 || state.baudRate > 0x7FFFFFFFu) return EINVAL;
    tcflag_t size = 0;
    switch (state.byteSize) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return EINVAL;
    }
    if (state.parity > kSpaceParity) return EINVAL;
    if (state.stopBits > kTwoStopBits) return EINVAL;
    // One and a half stop bits exist only with five data bits.
    if (state.stopBits == kOne5StopBits && state.byteSize != 5) return EINVAL;
    if (state.flow > kFlowSoftware) return EINVAL;

    termios2 t{};
    if (const int err = Get(fd, t)) return err;
    const termios2 before = t;
    t.c_cflag &= ~(CBAUD | CIBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size | CLOCAL | CREAD;
    tcflag_t speedBits = BOTHER;
    for (const Speed &s : kSpeeds) {
        if (s.rate == state.baudRate) speedBits = s.bits;
    }
    t.c_cflag |= speedBits;
    t.c_ospeed = t.c_ispeed = state.baudRate;
    if (state.parityEnabled && state.parity != kNoParity) {
        t.c_cflag |= PARENB;
        if (state.parity == kOddParity || state.parity == kMarkParity) t.c_cflag |= PARODD;
        if (state.parity == kMarkParity || state.parity == kSpaceParity) t.c_cflag |= CMSPAR;
    }
    if (state.stopBits != kOneStopBit) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (state.flow == kFlowHardware) t.c_cflag |= CRTSCTS;
    if (state.flow == kFlowSoftware) t.c_iflag |= IXON | IXOFF;
    if (const int err = Set(fd, t)) return err;
    // A driver accepts a rate it cannot run and keeps another (the 8250 keeps
    // the old one when asked for more than its clock gives): the line would
    // run at a rate nobody asked for while the caller believes its own. Read
    // back, and refuse a rate that did not take, with the line as before.
    // (Data bits and parity are not compared: a pseudo-terminal resets them
    // to 8 and none, and has no line for them to matter on.)
    termios2 now{};
    if (const int err = Get(fd, now)) return err;
    if (RateOf(now) != state.baudRate) {
        Set(fd, before);
        return EINVAL;
    }
    return 0;
}

}  // namespace portlink::posix
