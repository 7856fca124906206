/*
 * The plainest Win32 client of the device, for comparison with portlink.dll:
 * one thread, its own frames, an overlapped WaitCommEvent for arrivals and
 * immediate reads of what the input queue holds. Nothing of this project is
 * used, so the difference to the library is what the library costs.
 */
#include "peer_client.h"

#include <stdio.h>

static double now_us(void) {
    static LARGE_INTEGER frequency;
    LARGE_INTEGER t;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart * 1e6 / (double)frequency.QuadPart;
}

/* Waits for an overlapped operation: at most 5 s, which no answer needs. */
static BOOL finish(HANDLE port, OVERLAPPED *ov, BOOL started, DWORD *n) {
    if (!started && GetLastError() != ERROR_IO_PENDING) return FALSE;
    if (WaitForSingleObject(ov->hEvent, 5000) != WAIT_OBJECT_0) {
        CancelIo(port);
        return FALSE;
    }
    return GetOverlappedResult(port, ov, n, FALSE);
}

int peer_round_trips(int com, int requests, int event_first, double *us) {
    wchar_t name[32];
    swprintf(name, 32, L"\\\\.\\COM%d", com);
    HANDLE port = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, NULL);
    if (port == INVALID_HANDLE_VALUE) return -1;
    DCB dcb = {0};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    COMMTIMEOUTS immediate = {MAXDWORD, 0, 0, 0, 0};
    OVERLAPPED io = {0}, wait = {0};
    io.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    wait.hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    int done = -1;
    if (!SetCommState(port, &dcb) || !SetCommTimeouts(port, &immediate) ||
        !SetCommMask(port, EV_RXCHAR) ||
        !PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        goto out;
    }
    /* STX, length 8, the ADC read, request, a zero byte, checksum, ETX. */
    unsigned char request[8] = {0x02, 0x00, 0x08, 0x2B, 0x80, 0x00, 0, 0x03};
    for (int i = 0; i < 6; ++i) request[6] ^= request[i];
    for (done = 0; done < requests; ++done) {
        const double start = now_us();
        DWORD n = 0, events = 0;
        /* Event-driven, as a listener is: the wait is armed before the
         * request goes, and the answer is read once the event says it came. */
        BOOL armed = FALSE;
        if (event_first) {
            ResetEvent(wait.hEvent);
            armed = WaitCommEvent(port, &events, &wait) || GetLastError() == ERROR_IO_PENDING;
        }
        ResetEvent(io.hEvent);
        if (!finish(port, &io, WriteFile(port, request, sizeof request, NULL, &io), &n)) break;
        if (armed && !finish(port, &wait, FALSE, &n)) goto out;
        unsigned char answer[64];
        size_t got = 0, want = 5;
        while (got < want) {
            COMSTAT status;
            DWORD errors;
            if (!ClearCommError(port, &errors, &status)) goto out;
            if (status.cbInQue == 0) {
                ResetEvent(wait.hEvent);
                if (!finish(port, &wait, WaitCommEvent(port, &events, &wait), &n)) goto out;
                continue;
            }
            DWORD take = status.cbInQue;
            if (take > sizeof answer - got) take = (DWORD)(sizeof answer - got);
            ResetEvent(io.hEvent);
            if (!finish(port, &io, ReadFile(port, answer + got, take, NULL, &io), &n)) goto out;
            got += n;
            if (got >= 3) want = ((size_t)answer[1] << 8) | answer[2];
            if (want < 5 || want > sizeof answer) goto out;
        }
        us[done] = now_us() - start;
    }
out:
    CloseHandle(io.hEvent);
    CloseHandle(wait.hEvent);
    CloseHandle(port);
    return done;
}
