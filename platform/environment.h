// The process's environment, for settings a library reads at each use.
#pragma once

#include <string>

// Sets name to value for this process and the programs it starts; false
// (errno set) when the system refuses.
bool SetProcessEnv(const std::string &name, const std::string &value);
