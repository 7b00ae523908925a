// The settings-file format's line rules, shared by reading (profile_read.cpp, where they are
// described) and editing, and a file descriptor that closes itself.
#pragma once

#include <unistd.h>

#include <string_view>

#include "platform/win32_api.h"

namespace platform::posix {

// White space around lines, names and values: tab, LF, VT, FF, CR, space and ^Z.
bool IsBlank(char c);
std::string_view Trim(std::string_view text);
std::string_view TrimFront(std::string_view text);
// Names and values end at the first NUL byte.
std::string_view CString(std::string_view text);
// Names match without regard to the case of ASCII letters, up to a NUL.
bool SameName(std::string_view a, std::string_view b);
// An argument of the A functions as text; empty for a null pointer.
std::string_view Arg(LPCSTR text);

// One line of a settings file, without its line end, taken apart. The views point into the line.
struct Line {
  enum class Kind { Blank, Section, Entry };
  Kind kind = Kind::Blank;
  std::string_view name;   // section or entry name, white space removed
  bool hasValue = false;   // the entry has an "="
  std::string_view value;  // white space removed; empty where it would start if none
};

Line ParseLine(std::string_view text);

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace platform::posix
