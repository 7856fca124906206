// Numbers the port classes speak in. They are the Win32 values, so that a host
// or a log sees the same codes whatever platform the library runs on.
#pragma once

#include <cstdint>

namespace portlink {

// Results kept in m_lastError.
inline constexpr uint32_t kOk = 0;
inline constexpr uint32_t kErrInvalidFunction = 1;        // ERROR_INVALID_FUNCTION
inline constexpr uint32_t kErrFileNotFound = 2;           // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kErrPathNotFound = 3;           // ERROR_PATH_NOT_FOUND
inline constexpr uint32_t kErrTooManyOpenFiles = 4;       // ERROR_TOO_MANY_OPEN_FILES
inline constexpr uint32_t kErrAccessDenied = 5;           // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrInvalidHandle = 6;          // ERROR_INVALID_HANDLE
inline constexpr uint32_t kErrNotEnoughMemory = 8;        // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t kErrGenFailure = 31;            // ERROR_GEN_FAILURE
inline constexpr uint32_t kErrNotSupported = 50;          // ERROR_NOT_SUPPORTED
inline constexpr uint32_t kErrInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
inline constexpr uint32_t kErrOperationAborted = 995;     // ERROR_OPERATION_ABORTED
inline constexpr uint32_t kErrIoDevice = 1117;            // ERROR_IO_DEVICE
inline constexpr uint32_t kErrDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t kErrAlreadyInitialized = 1247;  // ERROR_ALREADY_INITIALIZED
inline constexpr uint32_t kErrTimeout = 1460;             // ERROR_TIMEOUT
inline constexpr uint32_t kErrInvalidArg = 0x80070057u;   // E_INVALIDARG

// A device that has gone away (cable pulled, adapter unplugged, the other end
// of a pseudo-terminal closed).
inline constexpr uint32_t kErrHangUp = kErrDeviceNotConnected;

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;  // INFINITE

// Event bits (WaitCommEvent's).
inline constexpr uint32_t kEvRxChar = 0x0001;
inline constexpr uint32_t kEvRxFlag = 0x0002;
inline constexpr uint32_t kEvBreak = 0x0040;
inline constexpr uint32_t kEvErr = 0x0080;
inline constexpr uint32_t kDefaultEventMask = kEvRxChar | kEvBreak | kEvErr;

// Line error flags (ClearCommError's).
inline constexpr uint32_t kCeRxOver = 0x0001;
inline constexpr uint32_t kCeOverrun = 0x0002;
inline constexpr uint32_t kCeRxParity = 0x0004;
inline constexpr uint32_t kCeFrame = 0x0008;
inline constexpr uint32_t kCeBreak = 0x0010;

// PurgeComm flags.
inline constexpr uint32_t kPurgeTxAbort = 0x0001;
inline constexpr uint32_t kPurgeRxAbort = 0x0002;
inline constexpr uint32_t kPurgeTxClear = 0x0004;
inline constexpr uint32_t kPurgeRxClear = 0x0008;

// DCB Parity and StopBits values.
inline constexpr uint8_t kNoParity = 0;
inline constexpr uint8_t kOddParity = 1;
inline constexpr uint8_t kEvenParity = 2;
inline constexpr uint8_t kMarkParity = 3;
inline constexpr uint8_t kSpaceParity = 4;
inline constexpr uint8_t kOneStopBit = 0;
inline constexpr uint8_t kOne5StopBits = 1;
inline constexpr uint8_t kTwoStopBits = 2;

// Flow-control kinds and read modes.
inline constexpr uint8_t kFlowNone = 0;
inline constexpr uint8_t kFlowHardware = 1;
inline constexpr uint8_t kFlowSoftware = 2;
inline constexpr uint8_t kReadImmediate = 0;
inline constexpr uint8_t kReadBlocking = 1;

// The message opencom asks for (WM_USER + 100).
inline constexpr uint32_t kWmPortNotify = 1124;

}  // namespace portlink
