// Ozzlebeck: a dog's face whose eyes follow the mouse cursor.
//
// Start-up (AppModul::Main) shows the watcher window; from then on the event loop drives the
// program through the window's timer and mouse events until a double-click ends it. The Linux
// build first answers its command line (--help, --version), before any display is opened; the
// Windows build is a GUI program that takes no arguments. Built for a system package
// (OZZ_SYSTEM_INSTALL), the program keeps its settings in each user's own file.
//
// The program's parts keep the names of its design, whose prefixes say what each one is: the
// form `fMouseWatch` is the watcher window (src/watcher/f_mouse_watch.*), the class `cTrimmer`
// cuts it to its picture and drags it (src/trimmer/c_trimmer.*), the module `AppModul` is the
// start-up (src/startup/app_modul.*) and the module `Commands` the program's folder, name and
// settings (src/commands/). File names are these names in lower case, split at the words. All
// of them run on the form runtime (src/platform/form.h), which lists its own files.
#include "commands/commands.h"
#include "platform/form.h"
#include "startup/app_modul.h"

#ifdef OZZ_COMMAND_LINE
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "startup/command_line.h"

namespace {

// The exit status when the arguments end the program at once; nothing to start the toy.
std::optional<int> AnswerCommandLine(int argc, char** argv) {
  // An exec with an empty argv leaves argc at 0: no arguments then either.
  const std::vector<std::string> arguments =
      argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  const CommandLine::Answer answer = CommandLine::Interpret(arguments, OZZ_VERSION);
  if (answer.start) return std::nullopt;
  std::fputs(answer.err.c_str(), stderr);
  // Help or a version that could not be written (a full disk, a closed pipe) is a failure.
  if (std::fputs(answer.out.c_str(), stdout) == EOF || std::fflush(stdout) == EOF) {
    std::fputs("ozzlebeck: cannot write to standard output\n", stderr);
    return 1;
  }
  return answer.exit_status;
}

}  // namespace
#endif

#ifdef OZZ_COMMAND_LINE
int main(int argc, char** argv) {
  if (const std::optional<int> status = AnswerCommandLine(argc, argv)) return *status;
#else
int main() {
#endif
#ifdef OZZ_SYSTEM_INSTALL
  Commands::SystemInstall = true;
#endif
  AppModul::Main();
  runtime::RunEventLoop();
  return 0;
}
