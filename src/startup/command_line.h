// The command line of the Linux build: `--help` and `--version` answer and end the program, any
// other argument is refused, and no argument at all starts the toy. Nothing here opens a display
// or reads settings, so the answers come before the window system is touched. The Windows build
// stays a GUI program that takes no arguments and never calls this.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace CommandLine {

// What the program does with its arguments.
struct Answer {
  bool start = true;    // start the toy; the fields below are then unused
  int exit_status = 0;  // otherwise end with this status
  std::string out;      // after writing this to standard output
  std::string err;      // and this to standard error
};

// Answers the arguments after the program's name. `version` is the build's project version.
//   none:           start
//   --help:         the help text on standard output, status 0
//   --version:      the name and version on standard output, status 0 (--help wins if both)
//   anything else:  one line on standard error naming the first argument that is neither of
//                   them, with a hint to --help; status 2, whatever else was given
Answer Interpret(const std::vector<std::string>& arguments, std::string_view version);

// `argument` as a one-line message may show it: in single quotes, with the bytes that would
// break the line or drive the terminal (control characters and DEL) written as \n, \t or \xHH,
// and a backslash or a single quote escaped. Other bytes, UTF-8 letters among them, stay.
std::string Quoted(std::string_view argument);

}  // namespace CommandLine
