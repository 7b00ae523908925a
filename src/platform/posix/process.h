// Process facts on POSIX systems.
#pragma once

#include <string>

namespace platform::posix {

// The running executable's full path with links resolved; empty when it cannot be found.
std::string OwnExecutablePath();

// The status the program ends with: 0 unless something it was asked to do failed.
int ExitStatus();
void SetExitStatus(int status);

}  // namespace platform::posix
