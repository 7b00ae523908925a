#include "startup/command_line.h"

#include <algorithm>

#include "platform/terminal_text.h"

namespace CommandLine {
namespace {

constexpr std::string_view kName = "ozzlebeck";

constexpr std::string_view kHelp =
    "Usage: ozzlebeck [--help | --version]\n"
    "\n"
    "Tavik's Ozzlebeck: a dog's face sits on the desktop, above the other\n"
    "windows, and its eyes follow the mouse pointer.\n"
    "\n"
    "  Drag the dog with the left mouse button to move it.\n"
    "  Double-click it to remember where it stands and quit; it opens there\n"
    "  next time. Only one copy runs at a time: starting it again does nothing.\n"
    "\n"
    "The place is kept in a settings file named after the program,\n"
    "ozzlebeck.ini, beside the program. Where that folder cannot be written (the\n"
    "program is installed for the whole system), each user has their own:\n"
    "$XDG_CONFIG_HOME/ozzlebeck/ozzlebeck.ini, or\n"
    "~/.config/ozzlebeck/ozzlebeck.ini when XDG_CONFIG_HOME is not set.\n"
    "\n"
    "Options:\n"
    "  --help     show this help and exit\n"
    "  --version  show the name and version and exit\n"
    "\n"
    "The dog needs an X11 display, named by the DISPLAY environment variable.\n";

}  // namespace

std::string Quoted(std::string_view argument) { return platform::TerminalQuoted(argument, '\''); }

Answer Interpret(const std::vector<std::string>& arguments, std::string_view version) {
  Answer answer;
  if (arguments.empty()) return answer;
  answer.start = false;

  const auto unknown = std::find_if(arguments.begin(), arguments.end(), [](const std::string& a) {
    return a != "--help" && a != "--version";
  });
  if (unknown != arguments.end()) {
    const bool option = unknown->starts_with('-') && unknown->size() > 1;
    answer.exit_status = 2;
    answer.err = std::string(kName) + (option ? ": unknown option " : ": unexpected argument ") +
                 Quoted(*unknown) + "; see '" + std::string(kName) + " --help'\n";
    return answer;
  }

  if (std::find(arguments.begin(), arguments.end(), "--help") != arguments.end()) {
    answer.out = kHelp;
  } else {
    answer.out = std::string(kName) + " (Tavik's Ozzlebeck) " + std::string(version) + "\n";
  }
  return answer;
}

}  // namespace CommandLine
