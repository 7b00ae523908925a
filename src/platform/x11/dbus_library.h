// The few calls of libdbus-1 that the compositor pointer makes, loaded with dlopen when the
// program first needs them: only on a Wayland session, so that a plain X11 session maps no D-Bus
// library at all (it would cost memory and start time there for nothing), and a system without
// libdbus-1 runs as before. The declarations below follow libdbus-1's stable ABI (dbus/*.h).
#pragma once

#include <cstdint>

namespace x11::dbus {

struct Connection;
struct Message;
using Bool = std::uint32_t;

// DBusError: filled in by a call that fails.
struct Error {
  const char* name = nullptr;
  const char* message = nullptr;
  unsigned dummy = 0;  // five one-bit fields in libdbus
  void* padding = nullptr;
};

inline constexpr int kSessionBus = 0;  // DBUS_BUS_SESSION
inline constexpr int kTypeInvalid = 0;
inline constexpr int kTypeString = 's';
inline constexpr int kTypeInt32 = 'i';
inline constexpr int kTypeBoolean = 'b';
inline constexpr int kMessageMethodCall = 1;
inline constexpr int kMessageSignal = 4;
inline constexpr int kDispatchDataRemains = 0;  // DBUS_DISPATCH_DATA_REMAINS

// The entry points, or all null when the library could not be loaded.
struct Library {
  void (*error_init)(Error*);
  void (*error_free)(Error*);
  Connection* (*bus_get_private)(int, Error*);
  const char* (*bus_get_unique_name)(Connection*);
  void (*bus_add_match)(Connection*, const char*, Error*);
  void (*connection_set_exit_on_disconnect)(Connection*, Bool);
  Bool (*connection_get_unix_fd)(Connection*, int*);
  Bool (*connection_read_write)(Connection*, int);
  int (*connection_get_dispatch_status)(Connection*);
  Message* (*connection_pop_message)(Connection*);
  Bool (*connection_send)(Connection*, Message*, std::uint32_t*);
  Message* (*connection_send_with_reply_and_block)(Connection*, Message*, int, Error*);
  void (*connection_flush)(Connection*);
  void (*connection_close)(Connection*);
  void (*connection_unref)(Connection*);
  Message* (*message_new_method_call)(const char*, const char*, const char*, const char*);
  Message* (*message_new_method_return)(Message*);
  Bool (*message_append_args)(Message*, int, ...);
  Bool (*message_get_args)(Message*, Error*, int, ...);
  int (*message_get_type)(Message*);
  const char* (*message_get_sender)(Message*);
  const char* (*message_get_path)(Message*);
  const char* (*message_get_interface)(Message*);
  const char* (*message_get_member)(Message*);
  void (*message_set_no_reply)(Message*, Bool);
  void (*message_unref)(Message*);
};

// The library, loaded on the first call; null when libdbus-1 is not there or lacks a call.
const Library* Load();

}  // namespace x11::dbus
