// The watcher window's picture on Windows: a resource of the executable (ozzlebeck.rc), kept
// as the BMP file's bytes. The icon is a resource too; the window class takes it from there,
// so the form needs no pixels of it. The pictures drawn at the display scales are embedded as
// on the other systems (cmake/embed_scaled.cmake).
#include "platform/win32/resource_ids.h"
#include "platform/win32_api.h"
#include "watcher/resources.h"

namespace resources {
namespace {

constexpr WORD kRawData = 10;  // RT_RCDATA, spelt out for the ANSI call

}  // namespace

std::span<const std::uint8_t> PictureBmp() {
  // A loaded module's resources stay mapped for as long as the module: no copy is needed.
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(self, MAKEINTRESOURCEA(IDR_PICTURE), MAKEINTRESOURCEA(kRawData));
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(self, found);
  const DWORD size = SizeofResource(self, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr || size == 0) return {};
  return {static_cast<const std::uint8_t*>(bytes), size};
}

std::span<const std::uint32_t> IconArgb() { return {}; }

}  // namespace resources
