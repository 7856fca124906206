#include <windows.h>
#include <devguid.h>
#include <setupapi.h>

#include <map>

#include "port_state.h"
#include "port_list.h"
#include "port_path.h"
#include "text_utf16.h"

namespace {

std::string Property(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property) {
    wchar_t text[512] = {};
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr,
                                           reinterpret_cast<BYTE *>(text), sizeof text - 2,
                                           nullptr))
        return {};
    return Utf16ToUtf8(text);  // a multi-string's first string
}

// "USB\VID_0403&PID_6001&REV_0600" gives 0403 and 6001.
void ReadUsbIds(const std::string &hardwareId, PortInfo &info) {
    const size_t vid = hardwareId.find("VID_");
    const size_t pid = hardwareId.find("PID_");
    if (vid == std::string::npos || pid == std::string::npos) return;
    info.vendorId = hardwareId.substr(vid + 4, 4);
    info.productId = hardwareId.substr(pid + 4, 4);
}

// The system's device list of ports: COM name, hardware ids, names.
std::map<int, PortInfo> FromDeviceList() {
    std::map<int, PortInfo> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        wchar_t name[64] = {};
        DWORD size = sizeof name - 2;
        const bool named = RegQueryValueExW(key, L"PortName", nullptr, nullptr,
                                            reinterpret_cast<BYTE *>(name), &size) == ERROR_SUCCESS;
        RegCloseKey(key);
        if (!named || _wcsnicmp(name, L"COM", 3) != 0) continue;
        const int n = _wtoi(name + 3);
        if (n < 1) continue;
        PortInfo info;
        info.port = n;
        const std::string hardwareId = Property(set, device, SPDRP_HARDWAREID);
        if (hardwareId.rfind("USB\\", 0) == 0 || hardwareId.rfind("FTDIBUS\\", 0) == 0) {
            ReadUsbIds(hardwareId, info);
            info.manufacturer = Property(set, device, SPDRP_MFG);
            info.product = Property(set, device, SPDRP_DEVICEDESC);
        }
        wchar_t instance[512] = {};
        if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            // The instance id names the same adapter whatever COM number it gets.
            info.byId = Utf16ToUtf8(instance);
            const size_t slash = info.byId.rfind('\\');
            if (!info.vendorId.empty() && slash != std::string::npos)
                info.serial = info.byId.substr(slash + 1);
        }
        ports[n] = info;
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

bool InUse(const std::string &path) {
    return portlink::ProbePort(path).state == PORTLINK_PORT_IN_USE;
}

}  // namespace

std::vector<PortInfo> ListPorts(const PortScanRoots &) {
    std::map<int, PortInfo> ports = FromDeviceList();
    // Ports the device list does not know (a driver without a class entry,
    // Wine's mapped ports) still have their DOS name.
    for (int n = 1; n <= 255; ++n) {
        if (ports.count(n)) continue;
        wchar_t target[512];
        const std::wstring name = L"COM" + std::to_wstring(n);
        if (QueryDosDeviceW(name.c_str(), target, 512) != 0) ports[n].port = n;
    }
    std::vector<PortInfo> list;
    for (auto &[n, info] : ports) {
        info.path = portlink::PortPath(n);
        info.inUse = InUse(info.path);
        list.push_back(info);
    }
    return list;
}
