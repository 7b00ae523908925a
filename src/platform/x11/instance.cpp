#include "platform/x11/instance.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace x11 {

std::string InstanceSelectionName(unsigned long uid, const std::string& realPath) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : realPath) hash = (hash ^ c) * 1099511628211ull;
  char name[64];
  std::snprintf(name, sizeof name, "_OZZLEBECK_U%lu_%016llx", uid,
                static_cast<unsigned long long>(hash));
  return name;
}

bool ClaimSelection(Display* display, const std::string& selection) {
  const Atom atom = XInternAtom(display, selection.c_str(), False);
  // An input-only window that is never mapped: it holds the selection and nothing else, and
  // goes with the connection.
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  const Window owner = XCreateWindow(display, DefaultRootWindow(display), -1, -1, 1, 1, 0, 0,
                                     InputOnly, CopyFromParent, CWOverrideRedirect, &attributes);
  // No other client's request runs between the look and the taking.
  XGrabServer(display);
  if (XGetSelectionOwner(display, atom) == None)
    XSetSelectionOwner(display, atom, owner, CurrentTime);
  const bool ours = XGetSelectionOwner(display, atom) == owner;
  XUngrabServer(display);
  if (!ours) XDestroyWindow(display, owner);
  XFlush(display);
  return ours;
}

bool ClaimInstance(Display* display, const std::string& exePath) {
  char real[PATH_MAX];
  const std::string path = realpath(exePath.c_str(), real) != nullptr ? real : exePath;
  return ClaimSelection(display, InstanceSelectionName(getuid(), path));
}

}  // namespace x11
