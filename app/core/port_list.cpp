#include "port_list.h"

std::string DescribePort(const PortInfo &info) {
    std::string text = "COM" + std::to_string(info.port) + " " + info.path;
    if (!info.vendorId.empty()) {
        std::string name = info.manufacturer;
        if (!info.product.empty()) name += (name.empty() ? "" : " ") + info.product;
        if (!name.empty()) text += " " + name;
        text += " (" + info.vendorId + ":" + info.productId;
        if (!info.serial.empty()) text += ", serial " + info.serial;
        text += ")";
    }
    if (!info.byId.empty()) text += " " + info.byId;
    if (info.inUse) text += ", in use";
    return text;
}
