// Failures that reach the port classes from the C++ library rather than from
// a device call, in the codes the port classes keep (codes.h).
#pragma once

#include <cstdint>
#include <system_error>

namespace portlink {

// What a thread that could not be started answers.
uint32_t CodeFromThreadError(const std::system_error &error);

}  // namespace portlink
