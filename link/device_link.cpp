// Placeholder until the device link lands.
#include "device_link.h"
CDeviceLink::CDeviceLink(const PortlinkApi &api, ILinkMessages *messages)
    : m_api(api), m_messages(messages) {}
CDeviceLink::~CDeviceLink() = default;
void CDeviceLink::Open(uint8_t, PortlinkWindow *) {}
int32_t CDeviceLink::Send(const uint8_t *, int32_t) { return 0; }
void CDeviceLink::ReadSerial() {}
void CDeviceLink::Tick() {}
