// The TCP transport's workers. Not built yet: Open(LINK_TCP) and Send on TCP
// start nothing, and a frame handed over is dropped.
//
// When they come: the receive worker recv()s into a buffer of its own and
// hands each chunk to TcpArrival, so m_rxBuffer is only written under
// m_rxLock; StopTcp shuts the socket down and joins every worker, and the
// destructor calls it before any buffer goes away.
#include "device_link.h"

void CDeviceLink::StartTcpSend(const uint8_t *, int32_t) {}

void CDeviceLink::StopTcp() {}
