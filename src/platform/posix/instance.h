// One copy per executable, user and desktop session, on POSIX systems.
#pragma once

#include <string>

namespace platform::posix {

// Claims the right to run for the executable at `exePath` in this user's desktop session (the
// display named by DISPLAY). True when this process now holds it; false when another running
// process does. The claim is an advisory lock on a file in the user's runtime folder, so it
// goes with the process however that ends. When the claim cannot be checked at all (no
// runtime folder can be made), the program runs.
bool ClaimInstance(const std::string& exePath);

// The lock file that stands for `exePath` in the session `display`, under `folder`.
std::string InstanceLockPath(const std::string& folder, const std::string& exePath,
                             const std::string& display);

}  // namespace platform::posix
