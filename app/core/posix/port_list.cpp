#include "port_list.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

#include "port_state.h"
#include "port_path.h"

extern char **environ;

namespace {

std::string ReadLine(const std::string &file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ')) line.pop_back();
    return line;
}

std::string RealPath(const std::string &path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string BaseName(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The numbers a PORTLINK_COM<n> names, beside the selector's 1 to 30.
std::map<int, bool> PortNumbers() {
    std::map<int, bool> ports;
    for (int n = PORTLINK_FIRST_PORT; n <= PORTLINK_LAST_OFFERED_PORT; ++n) ports[n] = true;
    for (char **env = environ; env && *env; ++env) {
        const char *e = *env;
        if (std::strncmp(e, "PORTLINK_COM", 12) != 0) continue;
        char *end = nullptr;
        const long n = std::strtol(e + 12, &end, 10);
        // Only what lies beyond the selector's numbers: those are all in.
        if (end != e + 12 && *end == '=' && end[1] != '\0' && n > PORTLINK_LAST_OFFERED_PORT &&
            n <= 255)
            ports[static_cast<int>(n)] = true;
    }
    return ports;
}

// An 8250 UART slot without hardware behind it still has its device node;
// the driver says "unknown" (type 0) for it.
bool EmptyUartSlot(const std::string &ttyDir) {
    const std::string type = ReadLine(ttyDir + "/type");
    return !type.empty() && type == "0";
}

// Only a terminal can be a serial port: a folder, a pipe or /dev/null that a
// PORTLINK_COM<n> names is none. A device that will not open for us (another
// group's, or held exclusively) is judged by the kernel's list of terminals.
// *inUse: another program holds it exclusively, or with a lock as we do.
bool IsTerminal(const std::string &device, const std::string &ttyDir, bool *inUse) {
    const portlink::PortProbe probe = portlink::ProbePort(device);
    *inUse = probe.state == PORTLINK_PORT_IN_USE;
    switch (probe.state) {
        case PORTLINK_PORT_FREE:
        case PORTLINK_PORT_IN_USE:
            return true;
        case PORTLINK_PORT_ABSENT:
        case PORTLINK_PORT_NOT_SERIAL:
            return false;
        case PORTLINK_PORT_NO_PERMISSION:
        case PORTLINK_PORT_OTHER:
            break;
    }
    return access(ttyDir.c_str(), F_OK) == 0;
}

// The USB device above the tty in sysfs: the first folder up the device's
// real path that has an idVendor.
void ReadUsb(const std::string &ttyDir, const std::string &sysRoot, PortInfo &info) {
    std::string dir = RealPath(ttyDir + "/device");
    while (dir.size() > sysRoot.size() && dir.compare(0, sysRoot.size(), sysRoot) == 0) {
        struct stat st {};
        if (stat((dir + "/idVendor").c_str(), &st) == 0) {
            info.vendorId = ReadLine(dir + "/idVendor");
            info.productId = ReadLine(dir + "/idProduct");
            info.manufacturer = ReadLine(dir + "/manufacturer");
            info.product = ReadLine(dir + "/product");
            info.serial = ReadLine(dir + "/serial");
            return;
        }
        dir.erase(dir.rfind('/'));
    }
}

std::string StableName(const std::string &devRoot, const std::string &device) {
    const std::string byId = devRoot + "/serial/by-id";
    DIR *d = opendir(byId.c_str());
    if (!d) return {};
    std::string found;
    while (const dirent *e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        const std::string link = byId + "/" + e->d_name;
        if (RealPath(link) == device) {
            found = link;
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace

std::vector<PortInfo> ListPorts(const PortScanRoots &roots) {
    std::vector<PortInfo> ports;
    for (const auto &[n, wanted] : PortNumbers()) {
        PortInfo info;
        info.port = n;
        info.path = portlink::PortPath(n);
        const std::string device = RealPath(info.path);
        if (device.empty()) continue;  // nothing there
        const std::string ttyDir = roots.sys + "/class/tty/" + BaseName(device);
        if (EmptyUartSlot(ttyDir) || !IsTerminal(device, ttyDir, &info.inUse)) continue;
        ReadUsb(ttyDir, RealPath(roots.sys), info);
        info.byId = StableName(roots.dev, device);
        ports.push_back(info);
    }
    return ports;
}
