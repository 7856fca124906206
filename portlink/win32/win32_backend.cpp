// The Windows backend: COM devices opened exclusively for overlapped I/O;
// the event wait is an overlapped WaitCommEvent against the waker in
// WaitForMultipleObjects, so a quiet port costs nothing. Codes are the
// system's own (GetLastError).
#include <windows.h>

#include <new>
#include <string>
#include <string_view>

#include "backend.h"
#include "codes.h"
#include "exclusive_open.h"
#include "line_tally.h"
#include "text_utf16.h"

namespace portlink {
namespace {

// How long a cancelled operation may take to finish. A driver that never
// completes it (an adapter pulled at the wrong moment) must not hang the
// caller; its structures are then abandoned rather than freed.
constexpr DWORD kCancelBoundMs = 1000;
// An immediate read completes at once; this only bounds a driver that does not.
constexpr DWORD kImmediateReadBoundMs = 1000;
constexpr std::string_view kDeviceNamespace = "\\\\.\\";

// One open device. The structures of the overlapped operations live here, not
// on a stack, so that an operation the driver never finishes cannot write
// into memory that has moved on.
struct Device {
    HANDLE file = INVALID_HANDLE_VALUE;
    HANDLE readDone = nullptr;
    HANDLE writeDone = nullptr;
    HANDLE waitDone = nullptr;
    OVERLAPPED readOv{};
    OVERLAPPED writeOv{};
    OVERLAPPED waitOv{};
    DWORD fired = 0;       // written by the driver when the event wait completes
    DWORD commMask = 0;    // the mask last set
    bool waitAll = false;  // the read time-outs wait for the whole count
    bool stuck = false;    // an operation outlived its cancel
    // ClearCommError's flags, kept as running totals for the port classes.
    LineTally counters;
};

Device &Dev(PortHandle handle) {
    return *reinterpret_cast<Device *>(handle);
}

HANDLE H(PortHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

uint32_t LastError() {
    const DWORD code = GetLastError();
    return code != 0 ? code : kErrGenFailure;
}

uint8_t FlowOf(const DCB &dcb) {
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE && dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        return kFlowHardware;
    }
    return dcb.fOutX && dcb.fInX ? kFlowSoftware : kFlowNone;
}

void SetFlow(DCB &dcb, uint8_t kind) {
    const bool hardware = kind == kFlowHardware, software = kind == kFlowSoftware;
    dcb.fOutxCtsFlow = hardware;
    dcb.fOutxDsrFlow = hardware;
    dcb.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
    dcb.fOutX = software;
    dcb.fInX = software;
    // A driver refuses XON/XOFF with the two characters alike.
    if (software && dcb.XonChar == dcb.XoffChar) dcb.XonChar = 0x11, dcb.XoffChar = 0x13;
}

// The device's line for the port classes: 8 bits, no parity, no flow control,
// no error character, no abort on errors (which would stop all I/O until the
// next ClearCommError).
void MakeRaw(DCB &dcb) {
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    SetFlow(dcb, kFlowNone);
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
}

// Ends a pending operation: cancelled, then waited for, boundedly. False when
// the driver did not finish it in time; the device is then marked stuck.
bool Cancel(Device &d, OVERLAPPED &ov) {
    CancelIoEx(d.file, &ov);
    if (WaitForSingleObject(ov.hEvent, kCancelBoundMs) == WAIT_OBJECT_0) return true;
    d.stuck = true;
    return false;
}

// Ends the pending event wait. Setting the mask again completes it with no
// events, which every driver does (Wine cannot cancel it); the cancel is
// for a driver that does not.
bool EndEventWait(Device &d) {
    if (SetCommMask(d.file, d.commMask) &&
        WaitForSingleObject(d.waitDone, kCancelBoundMs) == WAIT_OBJECT_0) {
        return true;
    }
    return Cancel(d, d.waitOv);
}

void Prepare(OVERLAPPED &ov, HANDLE done) {
    ResetEvent(done);
    ov = OVERLAPPED{};
    ov.hEvent = done;
}

// ClearCommError, counting the line conditions it reports (and clears).
// Reads on the caller's thread and the listener's waits both come here.
bool ClearErrors(Device &d, COMSTAT *status) {
    return d.counters.Take(
        [&](DWORD &errors) { return ClearCommError(d.file, &errors, status) != FALSE; });
}

// The configuration the port's driver keeps as its default (set in the
// system's device settings), best effort: a driver without one is fine. It
// comes before the line is made raw, so what the port relies on still holds.
void ApplyDefaultConfig(Device &d, const char *path) {
    // The default is kept under the port's plain name, not the device
    // namespace form the port is opened by.
    std::string_view name = path;
    if (name.starts_with(kDeviceNamespace)) name.remove_prefix(kDeviceNamespace.size());
    COMMCONFIG config{};
    config.dwSize = sizeof config;
    DWORD size = sizeof config;
    if (GetDefaultCommConfigW(Utf8ToUtf16(name).c_str(), &config, &size)) {
        SetCommConfig(d.file, &config, size);
    }
}

void Destroy(Device *d) {
    if (d->file != INVALID_HANDLE_VALUE) CloseHandle(d->file);
    // An operation that outlived its cancel may still complete into d.
    if (d->stuck) return;
    for (HANDLE event : {d->readDone, d->writeDone, d->waitDone}) {
        if (event != nullptr) CloseHandle(event);
    }
    delete d;
}

class Win32Backend final : public SerialBackend {
public:
    uint32_t Probe(const char *path) override {
        const HANDLE file = OpenExclusive(path);
        if (file == INVALID_HANDLE_VALUE) return LastError();
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        // Something else behind the name (a file, a printer) is no port.
        const uint32_t code = GetCommState(file, &dcb) ? kOk : LastError();
        CloseHandle(file);
        return code;
    }

    uint32_t Open(const char *path, uint32_t inQueue, uint32_t outQueue,
                  PortHandle &handle) override {
        Device *d = new (std::nothrow) Device;
        if (d == nullptr) return kErrNotEnoughMemory;
        d->file = OpenExclusive(path);
        if (d->file == INVALID_HANDLE_VALUE) return Fail(d);
        ApplyDefaultConfig(*d, path);
        for (HANDLE *event : {&d->readDone, &d->writeDone, &d->waitDone}) {
            *event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (*event == nullptr) return Fail(d);
        }
        if ((inQueue != 0 || outQueue != 0) && !SetupComm(d->file, inQueue, outQueue)) {
            return Fail(d);
        }
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(d->file, &dcb)) return Fail(d);
        MakeRaw(dcb);
        if (!SetCommState(d->file, &dcb)) return Fail(d);
        // Reads answer at once with what the input queue holds.
        COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
        if (!SetCommTimeouts(d->file, &timeouts)) return Fail(d);
        d->commMask = EV_RXCHAR | EV_BREAK | EV_ERR;
        if (!SetCommMask(d->file, d->commMask)) return Fail(d);
        // A port starts empty, and with no line condition left from before.
        if (!PurgeComm(d->file, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
            return Fail(d);
        }
        ClearErrors(*d, nullptr);
        d->counters.Reset();
        handle = reinterpret_cast<PortHandle>(d);
        return kOk;
    }

    void Close(PortHandle handle) override { Destroy(&Dev(handle)); }

    uint32_t GetState(PortHandle handle, LineState &state) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(Dev(handle).file, &dcb)) return LastError();
        state.baudRate = dcb.BaudRate;
        state.byteSize = dcb.ByteSize;
        state.parity = dcb.Parity;
        state.parityEnabled = dcb.fParity;
        state.stopBits = dcb.StopBits;
        state.flow = FlowOf(dcb);
        return kOk;
    }

    uint32_t SetState(PortHandle handle, const LineState &state) override {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        const HANDLE file = Dev(handle).file;
        if (!GetCommState(file, &dcb)) return LastError();
        dcb.BaudRate = state.baudRate;
        dcb.ByteSize = state.byteSize;
        dcb.Parity = state.parity;
        dcb.fParity = state.parityEnabled;
        dcb.StopBits = state.stopBits;
        // Flow-control fields are rewritten only for a change of kind, so
        // that settings of the line's other fields keep what the device had.
        if (state.flow != FlowOf(dcb)) SetFlow(dcb, state.flow);
        return SetCommState(file, &dcb) ? kOk : LastError();
    }

    uint32_t SetModemLines(PortHandle handle, bool dtr, bool rts) override {
        const HANDLE file = Dev(handle).file;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(file, &dcb)) return LastError();
        // A line under the driver's handshake is the driver's to drive.
        if (dcb.fDtrControl != DTR_CONTROL_HANDSHAKE &&
            !EscapeCommFunction(file, dtr ? SETDTR : CLRDTR) && !NotSupported(GetLastError())) {
            return LastError();
        }
        if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE && dcb.fRtsControl != RTS_CONTROL_TOGGLE &&
            !EscapeCommFunction(file, rts ? SETRTS : CLRRTS) && !NotSupported(GetLastError())) {
            return LastError();
        }
        return kOk;
    }

    uint32_t Read(PortHandle handle, uint8_t *buffer, size_t count, bool waitAll,
                  uint32_t timeoutMs, size_t &got) override {
        got = 0;
        Device &d = Dev(handle);
        if (waitAll != d.waitAll) {
            // Interval MAXDWORD: at once with what waits; 0: until count.
            COMMTIMEOUTS timeouts{waitAll ? 0 : MAXDWORD, 0, 0, 0, 0};
            if (!SetCommTimeouts(d.file, &timeouts)) return LastError();
            d.waitAll = waitAll;
        }
        if (!waitAll) {
            // Only what the input queue holds is asked for, so the read
            // completes at once; some drivers (Wine's among them) leave an
            // immediate read of an empty queue pending instead of answering 0.
            const DWORD queued = Pending(d);
            if (queued == kPendingFailed) return LastError();
            if (queued == 0) return kOk;
            if (queued < count) count = queued;
        }
        Prepare(d.readOv, d.readDone);
        DWORD n = 0;
        if (!ReadFile(d.file, buffer, static_cast<DWORD>(count), nullptr, &d.readOv) &&
            GetLastError() != ERROR_IO_PENDING) {
            return LastError();
        }
        const DWORD r =
            WaitForSingleObject(d.readDone, waitAll ? timeoutMs : kImmediateReadBoundMs);
        if (r == WAIT_OBJECT_0) {
            if (!GetOverlappedResult(d.file, &d.readOv, &n, FALSE)) return LastError();
            got = n;
            return kOk;
        }
        const uint32_t code = r == WAIT_TIMEOUT ? kErrTimeout : LastError();
        if (!Cancel(d, d.readOv)) return kErrIoDevice;
        // What came before the cancel is in the buffer: keep it.
        GetOverlappedResult(d.file, &d.readOv, &n, FALSE);
        got = n;
        return code;
    }

    uint32_t Write(PortHandle handle, const uint8_t *data, size_t count, uint32_t timeoutMs,
                   size_t &done) override {
        done = 0;
        Device &d = Dev(handle);
        Prepare(d.writeOv, d.writeDone);
        DWORD n = 0;
        if (!WriteFile(d.file, data, static_cast<DWORD>(count), nullptr, &d.writeOv) &&
            GetLastError() != ERROR_IO_PENDING) {
            return LastError();
        }
        const DWORD r = WaitForSingleObject(d.writeDone, timeoutMs);
        if (r == WAIT_OBJECT_0) {
            if (!GetOverlappedResult(d.file, &d.writeOv, &n, FALSE)) return LastError();
            done = n;
            return kOk;
        }
        const uint32_t code = r == WAIT_TIMEOUT ? kErrTimeout : LastError();
        // What the device has not taken in time is dropped, so that it cannot
        // go out later as the tail of a failed request.
        PurgeComm(d.file, PURGE_TXABORT | PURGE_TXCLEAR);
        if (!Cancel(d, d.writeOv)) return kErrIoDevice;
        return code;
    }

    uint32_t Purge(PortHandle handle, bool input, bool output) override {
        const DWORD flags = (input ? PURGE_RXCLEAR : 0u) | (output ? PURGE_TXCLEAR : 0u);
        return PurgeComm(Dev(handle).file, flags) ? kOk : LastError();
    }

    uint32_t ReadCounters(PortHandle handle, LineCounters &counters) override {
        Device &d = Dev(handle);
        if (!ClearErrors(d, nullptr)) return LastError();
        counters = d.counters.Totals();
        return kOk;
    }

    uint32_t CreateWaker(PortHandle &waker) override {
        // Auto-reset: a wait that sees the wake consumes it.
        const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event == nullptr) return LastError();
        waker = reinterpret_cast<PortHandle>(event);
        return kOk;
    }

    void CloseWaker(PortHandle waker) override { CloseHandle(H(waker)); }

    void Wake(PortHandle waker) override { SetEvent(H(waker)); }

    uint32_t Wait(PortHandle handle, unsigned want, PortHandle waker, uint32_t timeoutMs,
                  unsigned &ready) override {
        ready = 0;
        Device &d = Dev(handle);
        // Data that has been reported and not read yet is not watched: the
        // wait would complete for it again and again.
        const DWORD mask = EV_BREAK | EV_ERR | ((want & kReadable) ? EV_RXCHAR : 0u);
        if (mask != d.commMask) {
            if (!SetCommMask(d.file, mask)) return LastError();
            d.commMask = mask;
        }
        // After the mask, so that bytes arriving from here on complete the wait.
        if (want & kReadable) {
            const DWORD queued = Pending(d);
            if (queued == kPendingFailed) return LastError();
            if (queued != 0) return ready = kReadable, kOk;
        }
        Prepare(d.waitOv, d.waitDone);
        d.fired = 0;
        if (!WaitCommEvent(d.file, &d.fired, &d.waitOv)) {
            if (GetLastError() != ERROR_IO_PENDING) return LastError();
            const HANDLE both[2] = {d.waitDone, H(waker)};
            const DWORD r =
                WaitForMultipleObjects(waker != kNoHandle ? 2 : 1, both, FALSE, timeoutMs);
            DWORD n = 0;
            if (r == WAIT_OBJECT_0) {
                if (!GetOverlappedResult(d.file, &d.waitOv, &n, FALSE)) return LastError();
            } else {
                // Woken or timed out (or the wait failed): the event wait must be
                // over before its structure is used again.
                const uint32_t code =
                    r == WAIT_OBJECT_0 + 1 || r == WAIT_TIMEOUT ? kOk : LastError();
                if (r == WAIT_OBJECT_0 + 1) ready |= kWoken;
                if (!EndEventWait(d)) return kErrIoDevice;
                if (code != kOk) return code;
                // It may have completed with events before the cancel.
                if (!GetOverlappedResult(d.file, &d.waitOv, &n, FALSE)) d.fired = 0;
            }
        }
        if ((d.fired & EV_RXCHAR) && (want & kReadable)) {
            // The driver remembers arrivals from before this wait too; only
            // bytes that still wait count.
            const DWORD queued = Pending(d);
            if (queued == kPendingFailed) return LastError();
            if (queued != 0) ready |= kReadable;
        }
        if (d.fired & (EV_BREAK | EV_ERR)) ready |= kLineEvent;
        return kOk;
    }

private:
    static constexpr DWORD kPendingFailed = MAXDWORD;

    // The bytes in the input queue (kPendingFailed when that cannot be told).
    static DWORD Pending(Device &d) {
        COMSTAT status{};
        return ClearErrors(d, &status) ? status.cbInQue : kPendingFailed;
    }

    // A driver without modem lines (a virtual port) answers these.
    static bool NotSupported(DWORD code) {
        return code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ||
               code == ERROR_INVALID_PARAMETER;
    }

    static uint32_t Fail(Device *d) {
        const uint32_t code = LastError();
        Destroy(d);
        return code;
    }
};

}  // namespace

SerialBackend &SystemBackend() {
    static Win32Backend backend;
    return backend;
}

}  // namespace portlink
