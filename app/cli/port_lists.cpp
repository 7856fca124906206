#include "port_lists.h"

#include <cstdio>
#include <thread>
#include <vector>

#include "command_run.h"
#include "port_list.h"

int ListPortsCommand(const Options &o) {
    const std::vector<PortInfo> ports = ListPorts();
    if (o.json) {
        Json list = Json::array();
        for (const PortInfo &p : ports) {
            Json j;
            j["port"] = p.port;
            j["path"] = p.path;
            j["in_use"] = p.inUse;
            if (!p.vendorId.empty()) {
                j["vendor_id"] = p.vendorId;
                j["product_id"] = p.productId;
                j["manufacturer"] = p.manufacturer;
                j["product"] = p.product;
                j["serial"] = p.serial;
            }
            if (!p.byId.empty()) j["by_id"] = p.byId;
            list.push_back(j);
        }
        Json all;
        all["ports"] = list;
        PrintJson(all);
    } else {
        // A path or a name from a device may hold anything, a line end too.
        for (const PortInfo &p : ports) std::printf("%s\n", EscapedLine(DescribePort(p)).c_str());
        if (ports.empty()) std::fprintf(stderr, "loopctl: no COM port has a device\n");
    }
    return kExitOk;
}

int RunOnPorts(const Options &o) {
    std::vector<RunResult> results(o.ports.size());
    std::vector<std::thread> workers;
    for (size_t i = 0; i < o.ports.size(); ++i) {
        workers.emplace_back([&o, &results, i] {
            CRun run(o, o.ports[i], "COM" + std::to_string(o.ports[i]) + ": ");
            results[i] = run.Execute();
        });
    }
    for (std::thread &t : workers) t.join();
    int code = kExitOk;
    for (size_t i = 0; i < results.size(); ++i) {
        const RunResult &r = results[i];
        if (o.json)
            PrintJson(r.json);
        else
            std::printf("COM%d  %s\n", o.ports[i],
                        EscapedLine(JoinedLine(r.text, r.error)).c_str());
        if (code == kExitOk) code = r.code;
    }
    return code;
}
