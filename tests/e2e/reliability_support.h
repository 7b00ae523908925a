// Helpers of the reliability tests: reading a process's state and processor time from /proc, and
// keeping the test process alive when its own connection loses the server.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace reliability {

struct ProcessStat {
  char state = '?';  // R, S, Z, ...
  pid_t parent = 0;
  long cpu_ticks = 0;  // user + system time, in clock ticks
};

// Reads /proc/PID/stat; nothing once the process is gone (a zombie still has one).
inline std::optional<ProcessStat> ReadStat(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(in, text)) return std::nullopt;
  // The command name is in parentheses and may hold blanks; the fields follow the last ")".
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(text.substr(close + 1));
  ProcessStat stat;
  long skip = 0, utime = 0, stime = 0;
  fields >> stat.state >> stat.parent;
  for (int field = 5; field <= 13; ++field) fields >> skip;  // pgrp ... cmajflt
  fields >> utime >> stime;
  if (!fields) return std::nullopt;
  stat.cpu_ticks = utime + stime;
  return stat;
}

inline std::chrono::milliseconds CpuTime(long ticks) {
  static const long per_second = sysconf(_SC_CLK_TCK);
  return std::chrono::milliseconds(ticks * 1000 / per_second);
}

// Xlib ends the process when a connection breaks. While one of these lives, a lost connection
// is let through quietly, and a display passed to Watch is left unusable instead of ending
// the test; the harness can then close it as usual.
class SurviveServerLoss {
 public:
  SurviveServerLoss() : previous_(XSetIOErrorHandler(&Report)) {}
  ~SurviveServerLoss() { XSetIOErrorHandler(previous_); }
  SurviveServerLoss(const SurviveServerLoss&) = delete;
  SurviveServerLoss& operator=(const SurviveServerLoss&) = delete;

  void Watch(Display* display) const { XSetIOErrorExitHandler(display, &KeepGoing, nullptr); }

 private:
  static int Report(Display*) { return 0; }
  static void KeepGoing(Display*, void*) {}

  XIOErrorHandler previous_;
};

}  // namespace reliability
