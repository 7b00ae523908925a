// Moves and presses the pointer through KWin's fake input protocol, as a device would: the test
// of the Wayland desktops drives the compositor with it, so that what the program sees comes
// from the compositor as a user's motion would. KWin lets it bind when
// KWIN_WAYLAND_NO_PERMISSION_CHECKS=1.
//
//   fake_pointer move X Y | down | up | click | wait MS ...
// in logical coordinates, run in order; each step reaches the compositor before the next.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "fake-input-client-protocol.h"

static struct org_kde_kwin_fake_input* input;

static void Global(void* data, struct wl_registry* registry, uint32_t name, const char* interface,
                   uint32_t version) {
  (void)data;
  // Absolute motion needs version 3.
  if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 3)
    input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 3);
}

static void GlobalRemove(void* data, struct wl_registry* registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener kListener = {Global, GlobalRemove};

enum { kLeftButton = 0x110, kReleased = 0, kPressed = 1 };

static void Wait(long ms) {
  struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, NULL);
}

int main(int argc, char** argv) {
  struct wl_display* display = wl_display_connect(NULL);
  if (display == NULL) {
    fputs("fake_pointer: no Wayland display\n", stderr);
    return 1;
  }
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kListener, NULL);
  wl_display_roundtrip(display);
  if (input == NULL) {
    fputs("fake_pointer: the compositor offers no org_kde_kwin_fake_input 3\n", stderr);
    return 1;
  }
  org_kde_kwin_fake_input_authenticate(input, "ozzlebeck tests", "moves the pointer");
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "move") == 0 && i + 2 < argc) {
      org_kde_kwin_fake_input_pointer_motion_absolute(
          input, wl_fixed_from_double(atof(argv[i + 1])), wl_fixed_from_double(atof(argv[i + 2])));
      i += 2;
    } else if (strcmp(argv[i], "down") == 0 || strcmp(argv[i], "up") == 0) {
      org_kde_kwin_fake_input_button(input, kLeftButton, argv[i][0] == 'd' ? kPressed : kReleased);
    } else if (strcmp(argv[i], "click") == 0) {
      org_kde_kwin_fake_input_button(input, kLeftButton, kPressed);
      org_kde_kwin_fake_input_button(input, kLeftButton, kReleased);
    } else if (strcmp(argv[i], "wait") == 0 && i + 1 < argc) {
      Wait(atol(argv[++i]));
      continue;
    } else {
      fprintf(stderr, "fake_pointer: cannot read \"%s\"\n", argv[i]);
      return 2;
    }
    if (wl_display_roundtrip(display) < 0) return 1;
  }
  wl_display_disconnect(display);
  return 0;
}
