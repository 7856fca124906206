// loopctl's two lists: the COM ports that have a device, and one command run
// on several ports at once.
#pragma once

#include "loopctl_options.h"

// Prints the ports that have a device; always succeeds.
int ListPortsCommand(const Options &o);

// Runs the command on each of o.ports, each with a dialog of its own on a
// thread of its own; one line (or one JSON object) per port, in the order
// given. Answers the first failure's status, or 0.
int RunOnPorts(const Options &o);
