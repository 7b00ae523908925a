#include "platform/x11/compositor_pointer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/process.h"
#include "platform/x11/dbus_library.h"

namespace x11 {

namespace {

constexpr const char* kInterface = "io.github.tavik.Ozzlebeck";
constexpr const char* kMember = "Pointer";
constexpr const char* kShellPath = "/io/github/tavik/Ozzlebeck";
constexpr const char* kScriptFile = "ozzlebeck-pointer.js";
constexpr int kCallMs = 2000;  // a compositor slower than this to answer is left alone
constexpr int kEndCallMs = 500;
constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

struct Listening {
  const dbus::Library* d = nullptr;
  dbus::Connection* bus = nullptr;
  std::string compositor;  // the unique name of the compositor's connection
  std::string scriptName;  // KWin only: the name the script is loaded under
  std::string scriptCopy;  // KWin only: the private copy it was loaded from
  std::optional<CompositorPosition> position;
  int signalPipe[2] = {-1, -1};
};

Listening& Self() {
  static Listening listening;
  return listening;
}

// A method call; its reply, or null (and the error's name in `failure`) when it failed.
struct Call {
  const char* service;
  const char* path;
  const char* interface;
  const char* method;
};

template <typename... Args>
dbus::Message* CallAndWait(const Call& call, int timeoutMs, std::string* failure, Args... args) {
  Listening& s = Self();
  dbus::Message* message =
      s.d->message_new_method_call(call.service, call.path, call.interface, call.method);
  if (message == nullptr) return nullptr;
  if constexpr (sizeof...(Args) > 0) s.d->message_append_args(message, args..., dbus::kTypeInvalid);
  dbus::Error error;
  s.d->error_init(&error);
  dbus::Message* reply =
      s.d->connection_send_with_reply_and_block(s.bus, message, timeoutMs, &error);
  s.d->message_unref(message);
  if (failure != nullptr && error.name != nullptr) *failure = error.name;
  s.d->error_free(&error);
  return reply;
}

// The single value of a reply of type `type` (a string or an int32), then frees the reply.
template <typename Value>
bool TakeReply(dbus::Message* reply, int type, Value& value) {
  Listening& s = Self();
  if (reply == nullptr) return false;
  dbus::Error error;
  s.d->error_init(&error);
  const bool read = s.d->message_get_args(reply, &error, type, &value, dbus::kTypeInvalid) != 0;
  s.d->error_free(&error);
  s.d->message_unref(reply);
  return read;
}

std::string NameOwner(const char* name) {
  const char* owner = nullptr;
  dbus::Message* reply = CallAndWait(
      {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner"},
      kCallMs, nullptr, dbus::kTypeString, &name);
  std::string unique;
  if (reply != nullptr) {
    Listening& s = Self();
    dbus::Error error;
    s.d->error_init(&error);
    if (s.d->message_get_args(reply, &error, dbus::kTypeString, &owner, dbus::kTypeInvalid))
      unique = owner;
    s.d->error_free(&error);
    s.d->message_unref(reply);
  }
  return unique;
}

// --- KWin ------------------------------------------------------------------------------------

constexpr Call kScripting{"org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", ""};

bool UnloadScript(const std::string& name, int timeoutMs) {
  Call call = kScripting;
  call.method = "unloadScript";
  const char* plugin = name.c_str();
  std::uint32_t unloaded = 0;
  return TakeReply(CallAndWait(call, timeoutMs, nullptr, dbus::kTypeString, &plugin),
                   dbus::kTypeBoolean, unloaded) &&
         unloaded != 0;
}

// The script's text, read from the copy shipped beside the program, if no other user can have
// written it: the package's root-owned one, or the user's own unpacked archive.
std::optional<std::string> ShippedScript() {
  const std::string program = platform::posix::OwnExecutablePath();
  const std::string folder = program.substr(0, program.rfind('/') + 1);
  for (const std::string& path :
       {folder + kScriptFile, folder + "../share/ozzlebeck/" + kScriptFile}) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat info {};
    std::string text;
    const bool trusted = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                         (info.st_uid == 0 || info.st_uid == getuid()) &&
                         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0 && info.st_size < 65536;
    char buffer[4096];
    for (ssize_t got; trusted && (got = read(fd, buffer, sizeof buffer)) > 0;)
      text.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    if (trusted) return text;
  }
  return std::nullopt;
}

// Writes the script for this program to a file of its own in $XDG_RUNTIME_DIR: a folder only
// this user may enter, never a shared temporary one, and a new file only this user may read.
std::optional<std::string> WritePrivateCopy(const std::string& text, const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat folder {};
  if (runtime == nullptr || *runtime != '/' || lstat(runtime, &folder) != 0 ||
      !S_ISDIR(folder.st_mode) || folder.st_uid != getuid() || (folder.st_mode & 077) != 0)
    return std::nullopt;
  const std::string path = std::string(runtime) + "/" + name + ".js";
  unlink(path.c_str());  // a copy left by a run that crashed
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return std::nullopt;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (close(fd) != 0 || !written) {
    unlink(path.c_str());
    return std::nullopt;
  }
  return path;
}

bool StartKWin(const char* display) {
  Listening& s = Self();
  s.scriptName = KWinScriptName(getuid(), display != nullptr ? display : "");
  UnloadScript(s.scriptName, kCallMs);  // one a crashed run left behind
  const auto shipped = ShippedScript();
  if (!shipped) {
    std::fputs(
        "ozzlebeck: ozzlebeck-pointer.js is missing beside the program; the eyes follow the "
        "pointer only over X windows\n",
        stderr);
    return false;
  }
  const auto script = KWinScriptFor(*shipped, s.d->bus_get_unique_name(s.bus));
  const auto copy = script ? WritePrivateCopy(*script, s.scriptName) : std::nullopt;
  if (!copy) return false;
  s.scriptCopy = *copy;
  Call load = kScripting;
  load.method = "loadScript";
  const char* path = copy->c_str();
  const char* plugin = s.scriptName.c_str();
  std::int32_t id = -1;
  if (!TakeReply(
          CallAndWait(load, kCallMs, nullptr, dbus::kTypeString, &path, dbus::kTypeString, &plugin),
          dbus::kTypeInt32, id) ||
      id < 0)
    return false;
  for (const std::string& object : KWinScriptPaths(id, std::getenv("KDE_SESSION_VERSION"))) {
    dbus::Message* reply = CallAndWait(
        {"org.kde.KWin", object.c_str(), "org.kde.kwin.Script", "run"}, kCallMs, nullptr);
    if (reply == nullptr) continue;
    s.d->message_unref(reply);
    return true;
  }
  return false;
}

// --- GNOME Shell ----------------------------------------------------------------------------

bool StartGnomeShell() {
  Listening& s = Self();
  std::string failure;
  const char* text = nullptr;
  dbus::Message* reply =
      CallAndWait({"org.gnome.Shell", kShellPath, kInterface, "Watch"}, kCallMs, &failure);
  if (reply == nullptr) {
    if (failure.find("Unknown") != std::string::npos)  // no such object or method: not enabled
      std::fputs(
          "ozzlebeck: for the eyes to follow the pointer over every window, run "
          "\"gnome-extensions enable ozzlebeck-pointer@tavik\" (GNOME 45 and later; "
          "ozzlebeck-pointer-43@tavik on GNOME 43 and 44), then log out and in\n",
          stderr);
    return false;
  }
  bool read = false;
  dbus::Error error;
  s.d->error_init(&error);
  if (s.d->message_get_args(reply, &error, dbus::kTypeString, &text, dbus::kTypeInvalid)) {
    s.position = ParsePointerMessage(text);
    read = s.position.has_value();
  }
  s.d->error_free(&error);
  s.d->message_unref(reply);
  return read;
}

// --- Messages --------------------------------------------------------------------------------

bool Is(const char* value, const char* expected) {
  return value != nullptr && std::strcmp(value, expected) == 0;
}

// A position from the compositor: the KWin script's call (answered, so that KWin logs no
// missing reply) or the extension's signal. True when the position changed.
bool Take(dbus::Message* message) {
  Listening& s = Self();
  const int type = s.d->message_get_type(message);
  if ((type != dbus::kMessageMethodCall && type != dbus::kMessageSignal) ||
      !Is(s.d->message_get_sender(message), s.compositor.c_str()) ||
      !Is(s.d->message_get_interface(message), kInterface) ||
      !Is(s.d->message_get_member(message), kMember))
    return false;
  const char* text = nullptr;
  dbus::Error error;
  s.d->error_init(&error);
  const auto position =
      s.d->message_get_args(message, &error, dbus::kTypeString, &text, dbus::kTypeInvalid)
          ? ParsePointerMessage(text)
          : std::nullopt;
  s.d->error_free(&error);
  if (type == dbus::kMessageMethodCall) {
    if (dbus::Message* reply = s.d->message_new_method_return(message)) {
      s.d->connection_send(s.bus, reply, nullptr);
      s.d->message_unref(reply);
      s.d->connection_flush(s.bus);
    }
  }
  if (!position) return false;
  const bool changed = !s.position || position->x != s.position->x ||
                       position->y != s.position->y || position->width != s.position->width ||
                       position->height != s.position->height ||
                       position->left != s.position->left || position->top != s.position->top;
  s.position = position;
  return changed;
}

// --- Ending ----------------------------------------------------------------------------------

void OnEndSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = write(Self().signalPipe[1], &number, 1);
  errno = saved;
}

// Signals that would end the program end it through the loop, which unloads the script first.
void CatchEndSignals() {
  Listening& s = Self();
  if (pipe2(s.signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  for (const int signal : kEndSignals) {
    struct sigaction action {};
    struct sigaction previous {};
    sigaction(signal, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;  // nohup and the like: stays ignored
    action.sa_handler = &OnEndSignal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

void EndBySignal() {
  unsigned char number = 0;
  if (read(Self().signalPipe[0], &number, 1) != 1) return;
  EndCompositorPointer();
  std::signal(number, SIG_DFL);
  std::raise(number);
  _exit(128 + number);
}

}  // namespace

bool StartCompositorPointer(const char* display) {
  Listening& s = Self();
  if (s.bus != nullptr) return true;
  const std::vector<Compositor> compositors = CompositorsToAsk(ReadSessionEnvironment());
  if (compositors.empty() || (s.d = dbus::Load()) == nullptr) return false;
  dbus::Error error;
  s.d->error_init(&error);
  s.bus = s.d->bus_get_private(dbus::kSessionBus, &error);
  s.d->error_free(&error);
  if (s.bus == nullptr) return false;
  s.d->connection_set_exit_on_disconnect(s.bus, 0);
  for (const Compositor compositor : compositors) {
    const bool kwin = compositor == Compositor::kKWin;
    s.compositor = NameOwner(kwin ? "org.kde.KWin" : "org.gnome.Shell");
    if (s.compositor.empty()) continue;
    if (kwin ? StartKWin(display) : StartGnomeShell()) {
      CatchEndSignals();
      ReadCompositorPointer();  // what came while the calls were answered
      return true;
    }
    break;  // the desktop's compositor is there but cannot tell: ask the X server
  }
  EndCompositorPointer();
  return false;
}

bool CompositorPointerActive() { return Self().bus != nullptr; }

int CompositorPointerDescriptor() {
  Listening& s = Self();
  int fd = -1;
  if (s.bus == nullptr || !s.d->connection_get_unix_fd(s.bus, &fd)) return -1;
  return fd;
}

int CompositorEndSignalDescriptor() { return Self().signalPipe[0]; }

bool ReadCompositorPointer() {
  Listening& s = Self();
  if (s.bus == nullptr) return false;
  if (s.signalPipe[0] >= 0) EndBySignal();
  if (!s.d->connection_read_write(s.bus, 0)) {  // the bus went away, and the compositor with it
    EndCompositorPointer();
    return false;
  }
  bool changed = false;
  while (dbus::Message* message = s.d->connection_pop_message(s.bus)) {
    changed = Take(message) || changed;
    s.d->message_unref(message);
  }
  return changed;
}

std::optional<RootPoint> CompositorPointerAt(int rootWidth, int rootHeight) {
  const Listening& s = Self();
  if (s.bus == nullptr || !s.position) return std::nullopt;
  return ToRoot(*s.position, rootWidth, rootHeight);
}

void EndCompositorPointer() {
  Listening& s = Self();
  if (s.bus == nullptr) return;
  if (!s.scriptName.empty() && !s.scriptCopy.empty()) UnloadScript(s.scriptName, kEndCallMs);
  if (!s.scriptCopy.empty()) unlink(s.scriptCopy.c_str());
  s.scriptCopy.clear();
  s.d->connection_close(s.bus);
  s.d->connection_unref(s.bus);
  s.bus = nullptr;
  s.position.reset();
}

}  // namespace x11
