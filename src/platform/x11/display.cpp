// Start-up on X11 ends with one line on stderr and status 1 when there is no display to show
// the window on, and does not wait for ever on one that never answers. The wait is bounded
// with an alarm: Xlib reads the server's answers with blocking reads that nothing else can cut
// short, and the program has nothing to clean up before it ends.
#include "platform/x11/display.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/terminal_text.h"

namespace x11 {
namespace {

// Written by the alarm's handler, which may only make async-signal-safe calls: made up in full
// before the alarm is set.
char deadlineMessage[512];
std::size_t deadlineLength = 0;

void OnDeadline(int) {
  ssize_t ignored = write(STDERR_FILENO, deadlineMessage, deadlineLength);
  (void)ignored;
  _exit(1);
}

[[noreturn]] void FailToStart(const std::string& why) {
  std::fprintf(stderr, "ozzlebeck: %s\n", why.c_str());
  std::exit(1);
}

// A display name as the user wrote it, in quotes and safe for a terminal; long names are cut
// short.
std::string Quoted(const char* name) {
  std::string text = name != nullptr ? name : "";
  if (text.size() > 200) text = text.substr(0, 200) + "...";
  return platform::TerminalQuoted(text, '"');
}

// The authority file Xlib reads while it connects: XAUTHORITY, else ~/.Xauthority.
std::string AuthorityFile() {
  const char* named = std::getenv("XAUTHORITY");
  if (named != nullptr && *named != '\0') return named;
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != '\0' ? std::string(home) + "/.Xauthority" : std::string();
}

// Xlib reads the authority file to its end before it speaks to the server: a pipe with no
// writer keeps it waiting for ever, and a device such as /dev/zero never ends. Such a file is
// refused before connecting, so that the user is told about it rather than about a display
// that does not answer. A folder or a missing file is no obstacle: Xlib goes on without.
void CheckAuthorityFile() {
  const std::string path = AuthorityFile();
  struct stat info;
  if (path.empty() || stat(path.c_str(), &info) != 0) return;
  if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) return;
  FailToStart("cannot read the X authority file " + platform::TerminalQuoted(path, '"') +
              ": not a regular file");
}

}  // namespace

AnswerDeadline::AnswerDeadline(unsigned seconds) {
  const std::string line =
      "ozzlebeck: display " + Quoted(XDisplayName(nullptr)) + " does not answer\n";
  deadlineLength = std::min(line.size(), sizeof deadlineMessage);
  std::copy_n(line.data(), deadlineLength, deadlineMessage);
  struct sigaction action {};
  action.sa_handler = &OnDeadline;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, &previous_);
  // A mask inherited from whoever started the program must not hold the alarm back.
  sigset_t alarmOnly;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
  alarm(seconds);
}

AnswerDeadline::~AnswerDeadline() {
  alarm(0);
  sigaction(SIGALRM, &previous_, nullptr);
}

Display* OpenDisplayOrExit() {
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == '\0') FailToStart("cannot open display: DISPLAY is not set");
  CheckAuthorityFile();
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) FailToStart("cannot open display " + Quoted(name));
  return display;
}

}  // namespace x11
