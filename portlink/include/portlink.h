/*
 * portlink: numbered serial ports (COM1, COM2, ...) behind twelve C functions.
 *
 * Every function takes a port number n >= 1 and answers an integer code; none
 * of them throws or prints. A host gives the library a window with initcom();
 * each open port then has a listener thread that calls
 * window->post(window->context, PORTLINK_WM_PORT_NOTIFY, wparam, n) when bytes,
 * a break or a line error arrive. The host pulls the bytes with readcom().
 * One message may stand for many bytes; after a message the next one comes
 * only once the host has called readcom() (or clearbfr()), so a host that
 * reads on every message sees every byte, and a message may find nothing new.
 *
 * Port numbers on Linux: COMn is the device path in the environment variable
 * PORTLINK_COM<n> when it is set and not empty (read at every opencom, never
 * cached; an empty value counts as unset); otherwise 1-10 are /dev/ttyS0-
 * /dev/ttyS9, 11-20 /dev/ttyUSB0-/dev/ttyUSB9, 21-30 /dev/ttyACM0-
 * /dev/ttyACM9, and numbers above 30 continue /dev/ttyS<n-1>.
 * Pseudo-terminal slaves (/dev/pts/N) work as ports.
 *
 * On Windows COMn is \\.\COMn, initcom takes an HWND, and the listener
 * posts PORTLINK_WM_PORT_NOTIFY to it with PostMessageW. Breaks and line
 * errors come from the driver (ClearCommError); the exclusive open is the
 * system's own.
 *
 * Ports are opened exclusively (flock and TIOCEXCL): a device in use by this
 * or another process, root included, makes opencom answer 1.
 *
 * Breaks and line errors (EV_BREAK, EV_ERR and the CE_ flags) come from the
 * kernel's interrupt counters (TIOCGICOUNT); a driver without them (a
 * pseudo-terminal, some USB adapters) reports data arrival only, never a
 * break or a line error. In raw mode a break also reads as one 0x00 byte.
 *
 * A port opens with both its queues empty: nothing received before opencom is
 * read after it.
 *
 * A device that goes away (unplugged, or the master of a pseudo-terminal
 * closed) ends its listener, which posts one last message for the port:
 * EV_ERR with no line error flags (a line error always carries one), so that
 * a host that reads on every message learns at once, from readcom's 999, that
 * no answer will come. Nothing more is posted, readcom and writecom answer
 * 999, and closecom then opencom opens it again once it is back.
 *
 * Threads: every function may be called from several threads at once. Calls
 * on one port take turns; a call that waits on one port never holds up
 * another; destroycom while another thread is in a call on a port is safe
 * (that call answers as for a closed port). post() must not call back into
 * the library.
 *
 * One window per process: initcom replaces the library's window, and opencom
 * gives the port the window that is current at that moment, which the port
 * keeps until closecom. A process that works several ports from several
 * threads, each with a window of its own, must make every initcom and the
 * opencom after it one step that no other thread's initcom can come between
 * (one lock around the pair), or give every port the same window and hand
 * each message to the port's owner by its lParam, the port number.
 *
 * Result codes (PORTLINK_OK and its kin below): 0 success of opencom,
 * setcom, readcom, writecom, ondata; 1 success of the others (and: opencom's
 * trial open failed, setcom refused); 2 port not in the table (opencom:
 * failed after the trial open); 4 invalid argument; 16 no window given;
 * 999 the port operation failed. Every per-port call checks, in this order: n >= 1 (else 4), a window was
 * given (else 16), n is in the table (else 2, not for opencom), the other
 * arguments (else 4).
 */
#ifndef PORTLINK_H
#define PORTLINK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
/* Windows: the DLL exports, its users import; the window is an HWND. */
#include <windows.h>
#if defined(PORTLINK_BUILDING)
#define PORTLINK_API __declspec(dllexport)
/* checkbfr is exported by the .def file alone: on i686 a dllexport would add
 * a second name, "checkbfr@12", beside "_checkbfr@12". */
#define PORTLINK_API_DEF
#else
#define PORTLINK_API __declspec(dllimport)
#define PORTLINK_API_DEF __declspec(dllimport)
#endif
#define PORTLINK_STDCALL __stdcall
#elif defined(PORTLINK_BUILDING)
#define PORTLINK_API __attribute__((visibility("default")))
#define PORTLINK_API_DEF PORTLINK_API
#define PORTLINK_STDCALL
#else
#define PORTLINK_API
#define PORTLINK_API_DEF
#define PORTLINK_STDCALL
#endif

/* Result codes. 0 is the success of opencom, setcom, readcom, writecom and
 * ondata; 1 the success of the other seven, and also opencom's "the trial
 * open failed" and setcom's "the port refused the settings". */
#define PORTLINK_OK 0
#define PORTLINK_DONE 1
#define PORTLINK_REFUSED 1
#define PORTLINK_NOT_IN_TABLE 2 /* no such port open (opencom: failed after the trial) */
#define PORTLINK_INVALID 4      /* an argument out of range, a NULL pointer */
#define PORTLINK_NO_WINDOW 16   /* initcom was not given a window */
#define PORTLINK_FAILED 999     /* the port operation failed (a hung-up device, say) */

/* The port numbers a host offers its user: COM1 to COM30. The library takes
 * any number from 1 up. */
#define PORTLINK_FIRST_PORT 1
#define PORTLINK_LAST_OFFERED_PORT 30

/* What a port's device is to a program that wants to open it: the one
 * account of a failed open that the port list, the programs' messages and
 * the windows share, on every system. */
typedef enum PortlinkPortState {
    PORTLINK_PORT_FREE = 0,      /* it opens: ours to use */
    PORTLINK_PORT_IN_USE,        /* another program (or this one) holds it */
    PORTLINK_PORT_ABSENT,        /* no such device */
    PORTLINK_PORT_NOT_SERIAL,    /* something that is no serial device */
    PORTLINK_PORT_NO_PERMISSION, /* the user may not open it */
    PORTLINK_PORT_OTHER          /* another failure: the system's error code says which */
} PortlinkPortState;

/* Message number of a port notification: wparam low word = event bits,
 * high word = line error flags, lparam = port number. */
#define PORTLINK_WM_PORT_NOTIFY 1124u

/* Event bits (low word of wparam). */
#define PORTLINK_EV_RXCHAR 0x0001u
#define PORTLINK_EV_BREAK 0x0040u
#define PORTLINK_EV_ERR 0x0080u

/* Line error flags (high word of wparam). */
#define PORTLINK_CE_RXOVER 0x0001u
#define PORTLINK_CE_OVERRUN 0x0002u
#define PORTLINK_CE_RXPARITY 0x0004u
#define PORTLINK_CE_FRAME 0x0008u
#define PORTLINK_CE_BREAK 0x0010u

#if defined(_WIN32)
/*
 * On Windows the host's window is an HWND: the listener posts (never sends)
 * the message to it with PostMessageW, so the window's thread must pump
 * messages, and a window that goes away only loses messages. PortlinkWindow
 * names the window's own type, so that a PortlinkWindow pointer is an HWND.
 */
typedef struct HWND__ PortlinkWindow;
#else
/*
 * The host's window. post() is called from the listener threads: it must be
 * thread-safe, must never block and must not call the library's functions
 * (closecom waits for the listener that is posting). The host keeps this
 * struct alive until all its ports are closed (closecom or destroycom). A
 * window whose post is NULL counts as no window (16).
 */
typedef struct PortlinkWindow {
    void (*post)(void *context, uint32_t message, uint32_t wparam, int32_t lparam);
    void *context;
} PortlinkWindow;
#endif

PORTLINK_API int32_t initcom(PortlinkWindow *window);
PORTLINK_API int32_t destroycom(void);
PORTLINK_API int32_t opencom(int32_t port);
/* A rate the driver does not take (one beyond a UART's clock, say) is
 * refused with 1 and the line keeps the settings it had, rather than
 * running at a rate nobody asked for. */
PORTLINK_API int32_t setcom(int32_t port, int32_t lineControl, int32_t baudRate);
PORTLINK_API int32_t setmdm(int32_t port, int32_t mode);
PORTLINK_API int32_t flowcom(int32_t port, int32_t mode);
PORTLINK_API int32_t ondata(int32_t port, int32_t flag);
PORTLINK_API int32_t closecom(int32_t port);
/* Returns when all bytes are handed to the driver, or answers 999 when the
 * device has not taken them within the time they need on the line at the
 * port's settings plus 500 ms (flow control held, a peer that never reads);
 * the bytes not yet sent are then discarded. A negative count, or NULL data
 * with a positive count, answers 4. */
PORTLINK_API int32_t writecom(int32_t port, const uint8_t *data, int32_t count);
/* Never blocks. *count asks for up to that many bytes (0: up to 10000) and
 * is clamped to 10000, the size of the library's staging buffer; on return it
 * holds the number read (0 when nothing waits). A negative *count or a NULL
 * pointer answers 4. */
PORTLINK_API int32_t readcom(int32_t port, uint8_t *buffer, int32_t *count);
PORTLINK_API int32_t clearbfr(int32_t port, int32_t selector);
/* __stdcall on 32-bit Windows, exported there as _checkbfr@12 only (find it
 * with GetProcAddress under that name; the import library has no checkbfr). */
PORTLINK_API_DEF int32_t PORTLINK_STDCALL checkbfr(int32_t port, int32_t unused1, int32_t unused2);

#ifdef __cplusplus
}
#endif

#endif /* PORTLINK_H */
