// Where the running program lives, so that its files can sit beside it.
#pragma once

#include <string>

// The running program's folder with a trailing separator; empty when the
// system will not say (the files then land in the working directory).
std::string ProgramFolder();
