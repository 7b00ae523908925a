#include "platform/x11/dbus_library.h"

#include <dlfcn.h>

namespace x11::dbus {

namespace {

template <typename Function>
bool Bind(void* handle, Function*& entry, const char* name) {
  entry = reinterpret_cast<Function*>(dlsym(handle, name));
  return entry != nullptr;
}

bool BindAll(void* handle, Library& d) {
  // clang-format off
  return Bind(handle, d.error_init, "dbus_error_init") &&
         Bind(handle, d.error_free, "dbus_error_free") &&
         Bind(handle, d.bus_get_private, "dbus_bus_get_private") &&
         Bind(handle, d.bus_get_unique_name, "dbus_bus_get_unique_name") &&
         Bind(handle, d.bus_add_match, "dbus_bus_add_match") &&
         Bind(handle, d.connection_set_exit_on_disconnect, "dbus_connection_set_exit_on_disconnect") &&
         Bind(handle, d.connection_get_unix_fd, "dbus_connection_get_unix_fd") &&
         Bind(handle, d.connection_read_write, "dbus_connection_read_write") &&
         Bind(handle, d.connection_get_dispatch_status, "dbus_connection_get_dispatch_status") &&
         Bind(handle, d.connection_pop_message, "dbus_connection_pop_message") &&
         Bind(handle, d.connection_send, "dbus_connection_send") &&
         Bind(handle, d.connection_send_with_reply_and_block, "dbus_connection_send_with_reply_and_block") &&
         Bind(handle, d.connection_flush, "dbus_connection_flush") &&
         Bind(handle, d.connection_close, "dbus_connection_close") &&
         Bind(handle, d.connection_unref, "dbus_connection_unref") &&
         Bind(handle, d.message_new_method_call, "dbus_message_new_method_call") &&
         Bind(handle, d.message_new_method_return, "dbus_message_new_method_return") &&
         Bind(handle, d.message_append_args, "dbus_message_append_args") &&
         Bind(handle, d.message_get_args, "dbus_message_get_args") &&
         Bind(handle, d.message_get_type, "dbus_message_get_type") &&
         Bind(handle, d.message_get_sender, "dbus_message_get_sender") &&
         Bind(handle, d.message_get_path, "dbus_message_get_path") &&
         Bind(handle, d.message_get_interface, "dbus_message_get_interface") &&
         Bind(handle, d.message_get_member, "dbus_message_get_member") &&
         Bind(handle, d.message_set_no_reply, "dbus_message_set_no_reply") &&
         Bind(handle, d.message_unref, "dbus_message_unref");
  // clang-format on
}

}  // namespace

const Library* Load() {
  static const Library* const library = []() -> const Library* {
    void* handle = dlopen("libdbus-1.so.3", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static Library loaded{};
    if (BindAll(handle, loaded)) return &loaded;
    dlclose(handle);
    return nullptr;
  }();
  return library;
}

}  // namespace x11::dbus
