// The TCP transport's send worker. Not built yet: Open(LINK_TCP) and Send on
// TCP start nothing, and the frame handed over is dropped.
#include "device_link.h"

void CDeviceLink::StartTcpSend(const uint8_t *, int32_t) {}

void CDeviceLink::StopTcp() {}
