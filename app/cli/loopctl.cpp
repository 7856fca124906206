// loopctl: the device work of loopset's three buttons without a window. It
// hosts the same dialog behaviour with a console view, so a script or a
// production line gets exactly what an operator gets; it judges the answer
// by the dialog's outcome of it, never by the wording of the log.
// Arguments and output are UTF-8 on every system.
#include <cerrno>
#include <cstdio>

#include "command_run.h"
#include "files.h"
#include "loopctl_main.h"
#include "loopctl_options.h"
#include "port_lists.h"

namespace {

int Run(int argc, char **argv) {
    Options o;
    if (const int code = ParseOptions(argc, argv, o); code >= 0) return code;
    if (o.command == Command::Ports) return ListPortsCommand(o);
    if (o.ports.size() > 1) return RunOnPorts(o);
    CRun run(o, o.ports.empty() ? 0 : o.ports.front(), "");
    const RunResult r = run.Execute();
    if (r.streamed) return r.code;
    if (o.json)
        PrintJson(r.json);
    else
        std::fputs(r.text.c_str(), stdout);
    return r.code;
}

}  // namespace

int LoopctlMain(int argc, char **argv) {
    const int code = Run(argc, argv);
    // Output that never arrived is no success: a full disk or a closed pipe
    // must not look like a good reading to the script that reads it.
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return ReportOutputFailure(errno ? errno : EIO);
    return code;
}
