// Process facts on POSIX systems.
#pragma once

#include <string>

namespace platform::posix {

// The running executable's full path with links resolved; empty when it cannot be found.
std::string OwnExecutablePath();

}  // namespace platform::posix
