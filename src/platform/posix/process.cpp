#include "platform/posix/process.h"

#include <unistd.h>

#include <climits>

namespace platform::posix {
namespace {

int exitStatus = 0;

}  // namespace

int ExitStatus() { return exitStatus; }

void SetExitStatus(int status) { exitStatus = status; }

std::string OwnExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace platform::posix
