// The Linux backend: termios devices opened exclusively, waits in poll() on
// the device and an eventfd.
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "backend.h"
#include "clock.h"
#include "codes.h"
#include "deadline.h"
#include "errno_codes.h"
#include "exclusive_open.h"
#include "line_state.h"

namespace portlink {
namespace {

// What a close allows beyond the line time of the output still queued.
constexpr uint32_t kCloseMarginMs = 500;

// Handles here are file descriptors.
int Fd(PortHandle handle) {
    return static_cast<int>(handle);
}

int RetryIoctl(int fd, unsigned long request, void *arg) {
    for (;;) {
        if (ioctl(fd, request, arg) == 0) return 0;
        if (errno != EINTR) return errno;
    }
}

// A bounded or unbounded wait against the monotonic clock, so that a wait
// interrupted and resumed still ends on time.

int PollTimeout(const Deadline &deadline) {
    const uint32_t left = deadline.Remaining();
    return left == kInfinite ? -1 : left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

// Sleeps until fd has one of events or has hung up, or the deadline passes:
// 0, kErrHangUp, or the failure of poll.
uint32_t PollFor(int fd, short events, const Deadline &deadline) {
    pollfd p{fd, events, 0};
    if (poll(&p, 1, PollTimeout(deadline)) < 0 && errno != EINTR) return CodeFromErrno(errno);
    return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? kErrHangUp : kOk;
}

// The driver has no such request: a pseudo-terminal has no modem lines and no
// interrupt counters. That is a limit of the device, not a failure.
bool NotSupported(int err) {
    return err == ENOTTY || err == EINVAL;
}

class PosixBackend final : public SerialBackend {
public:
    uint32_t Probe(const char *path) override { return CodeFromErrno(ProbeExclusive(path)); }

    uint32_t Open(const char *path, uint32_t /*inQueue*/, uint32_t /*outQueue*/,
                  PortHandle &handle) override {
        const int fd = OpenExclusive(path);
        if (fd < 0) return CodeFromErrno(-fd);
        termios t{};
        if (tcgetattr(fd, &t) != 0) return CloseWith(fd, errno);
        // Raw bytes both ways, no echo, no signals, no translation, no parity
        // marking: what is sent arrives unchanged (0xFF included). A break
        // reads as one NUL, which is what wakes the listener for it.
        cfmakeraw(&t);
        t.c_cflag |= CLOCAL | CREAD;
        t.c_cflag &= ~CRTSCTS;
        t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | IGNBRK | BRKINT);
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        for (;;) {
            if (tcsetattr(fd, TCSANOW, &t) == 0) break;
            if (errno != EINTR) return CloseWith(fd, errno);
        }
        // A port starts empty: bytes left from an earlier session (a late
        // answer, line noise) would otherwise pass for the answer to the
        // first request.
        if (tcflush(fd, TCIOFLUSH) != 0) return CloseWith(fd, errno);
        // Exclusive against later openers that honour TIOCEXCL; the lock that
        // OpenExclusive took covers the rest.
        ioctl(fd, TIOCEXCL);
        // Low latency, best effort: USB adapters otherwise hold received bytes
        // for their latency timer. Pseudo-terminals have no such setting.
        serial_struct serial{};
        if (ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
            serial.flags |= ASYNC_LOW_LATENCY;
            ioctl(fd, TIOCSSERIAL, &serial);
        }
        handle = fd;
        return kOk;
    }

    void Close(PortHandle handle) override {
        const int fd = Fd(handle);
        // The exclusive flag belongs to the device, not to this descriptor: a
        // pseudo-terminal kept open elsewhere would keep refusing us otherwise.
        ioctl(fd, TIOCNXCL);
        DrainBounded(fd);
        close(fd);
    }

    uint32_t GetState(PortHandle handle, LineState &state) override {
        return CodeFromErrno(posix::GetLineState(Fd(handle), state));
    }

    uint32_t SetState(PortHandle handle, const LineState &state) override {
        return CodeFromErrno(posix::SetLineState(Fd(handle), state));
    }

    uint32_t SetModemLines(PortHandle handle, bool dtr, bool rts) override {
        int set = (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
        int clear = TIOCM_DTR | TIOCM_RTS;
        clear &= ~set;
        int err = set != 0 ? RetryIoctl(Fd(handle), TIOCMBIS, &set) : 0;
        if (err == 0 && clear != 0) err = RetryIoctl(Fd(handle), TIOCMBIC, &clear);
        return err == 0 || NotSupported(err) ? kOk : CodeFromErrno(err);
    }

    uint32_t Read(PortHandle handle, uint8_t *buffer, size_t count, bool waitAll,
                  uint32_t timeoutMs, size_t &got) override {
        got = 0;
        // The device stays non-blocking with VMIN = VTIME = 0; waiting for the
        // whole count is our own poll, which keeps it bounded.
        const Deadline deadline(timeoutMs);
        for (;;) {
            size_t n = 0;
            if (const uint32_t code = ReadNow(Fd(handle), buffer + got, count - got, n)) {
                return code;
            }
            got += n;
            if (!waitAll || got == count) return kOk;
            if (deadline.Expired()) return kErrTimeout;
            if (const uint32_t code = PollFor(Fd(handle), POLLIN, deadline)) return code;
        }
    }

    uint32_t Write(PortHandle handle, const uint8_t *data, size_t count, uint32_t timeoutMs,
                   size_t &done) override {
        done = 0;
        const Deadline deadline(timeoutMs);
        while (done < count) {
            const ssize_t n = write(Fd(handle), data + done, count - done);
            if (n >= 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return CodeFromErrno(errno);
            if (deadline.Expired()) {
                // What the device has not taken in time is dropped, so that
                // it cannot go out later as the tail of a failed request.
                tcflush(Fd(handle), TCOFLUSH);
                done = 0;
                return kErrTimeout;
            }
            if (const uint32_t code = PollFor(Fd(handle), POLLOUT, deadline)) return code;
        }
        return kOk;
    }

    uint32_t Purge(PortHandle handle, bool input, bool output) override {
        const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
        return tcflush(Fd(handle), which) == 0 ? kOk : CodeFromErrno(errno);
    }

    uint32_t ReadCounters(PortHandle handle, LineCounters &counters) override {
        serial_icounter_struct ic{};
        const int err = RetryIoctl(Fd(handle), TIOCGICOUNT, &ic);
        if (err != 0) return NotSupported(err) ? kErrNotSupported : CodeFromErrno(err);
        counters.breaks = static_cast<uint32_t>(ic.brk);
        counters.frame = static_cast<uint32_t>(ic.frame);
        counters.parity = static_cast<uint32_t>(ic.parity);
        counters.overrun = static_cast<uint32_t>(ic.overrun);
        counters.bufOverrun = static_cast<uint32_t>(ic.buf_overrun);
        return kOk;
    }

    uint32_t CreateWaker(PortHandle &waker) override {
        const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (fd < 0) return CodeFromErrno(errno);
        waker = fd;
        return kOk;
    }

    void CloseWaker(PortHandle waker) override { close(Fd(waker)); }

    void Wake(PortHandle waker) override {
        const uint64_t one = 1;
        // Fails only when the counter would overflow, and then it is set anyway.
        while (write(Fd(waker), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    uint32_t Wait(PortHandle handle, unsigned want, PortHandle waker, uint32_t timeoutMs,
                  unsigned &ready) override {
        ready = 0;
        pollfd fds[2] = {};
        fds[0].fd = Fd(handle);
        fds[0].events = static_cast<short>((want & kReadable) ? POLLIN : 0);
        fds[1].fd = Fd(waker);  // kNoHandle, a negative fd, is skipped by poll
        fds[1].events = POLLIN;
        const int timeout = timeoutMs == kInfinite
                                ? -1
                                : static_cast<int>(timeoutMs > 0x7FFFFFFF ? 0x7FFFFFFF : timeoutMs);
        const int n = poll(fds, 2, timeout);
        if (n < 0) return errno == EINTR ? kOk : CodeFromErrno(errno);
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) ready |= kHangUp;
        if (fds[0].revents & POLLIN) ready |= kReadable;
        if (waker != kNoHandle && (fds[1].revents & POLLIN)) {
            uint64_t count = 0;
            while (read(Fd(waker), &count, sizeof count) < 0 && errno == EINTR) {
            }
            ready |= kWoken;
        }
        return kOk;
    }

private:
    // One read that never blocks: 0 with n = 0 when nothing waits.
    static uint32_t ReadNow(int fd, uint8_t *buffer, size_t count, size_t &n) {
        n = 0;
        for (;;) {
            const ssize_t got = read(fd, buffer, count);
            if (got > 0) {
                n = static_cast<size_t>(got);
                return kOk;
            }
            if (got == 0) {
                // With VMIN = VTIME = 0 an empty queue reads as 0 too; only a
                // hung-up device also reports POLLHUP.
                pollfd p{fd, POLLIN, 0};
                if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
                    return kErrHangUp;
                }
                return kOk;
            }
            if (errno == EAGAIN) return kOk;
            if (errno != EINTR) return CodeFromErrno(errno);
        }
    }

    // The last close of a serial device waits until its output has gone out,
    // for as long as the driver's closing wait (30 s by default) when flow
    // control holds it back: a peer that never releases the line would hang
    // closecom that long. Queued bytes get the time they need on the line
    // plus the write margin; what is left then is dropped.
    static void DrainBounded(int fd) {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return;
        LineState state;
        const uint64_t baud =
            posix::GetLineState(fd, state) == 0 && state.baudRate > 0 ? state.baudRate : 1200;
        // At most 12 bits a byte: start, 8 data, parity, 2 stop.
        const uint64_t ms = static_cast<uint64_t>(queued) * 12 * 1000 / baud + kCloseMarginMs;
        const Deadline deadline(static_cast<uint32_t>(std::min<uint64_t>(ms, kInfinite - 1)));
        // The driver tells no one when its queue empties: look again shortly.
        while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0 && !deadline.Expired()) {
            poll(nullptr, 0, 10);
        }
        tcflush(fd, TCOFLUSH);
    }

    static uint32_t CloseWith(int fd, int err) {
        close(fd);
        return CodeFromErrno(err);
    }
};

}  // namespace

SerialBackend &SystemBackend() {
    static PosixBackend backend;
    return backend;
}

}  // namespace portlink
