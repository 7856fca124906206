#include "errno_codes.h"

#include <cerrno>

#include "codes.h"

namespace portlink {

uint32_t CodeFromErrno(int err) {
    switch (err) {
        case 0:
            return kOk;
        case ENOENT:
            return kErrFileNotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return kErrPathNotFound;
        case EMFILE:
        case ENFILE:
            return kErrTooManyOpenFiles;
        // Held by someone else (TIOCEXCL answers EBUSY, a lock EWOULDBLOCK,
        // which the backend reports as EBUSY) or not ours to open.
        case EBUSY:
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return kErrAccessDenied;
        case EBADF:
            return kErrInvalidHandle;
        case ENOMEM:
        case EAGAIN:  // only thread creation gets here with it: out of resources
            return kErrNotEnoughMemory;
        case ENOTTY:  // not a terminal, or a request the driver does not know
            return kErrInvalidFunction;
        case EOPNOTSUPP:
        case ENOSYS:
            return kErrNotSupported;
        case EINVAL:
        case ERANGE:
            return kErrInvalidParameter;
        case ECANCELED:
            return kErrOperationAborted;
        case EIO:
            return kErrIoDevice;
        case ENXIO:
        case ENODEV:
        case EPIPE:
            return kErrDeviceNotConnected;
        case ETIMEDOUT:
            return kErrTimeout;
        default:
            return kErrGenFailure;
    }
}

}  // namespace portlink
