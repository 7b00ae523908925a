// Private-profile (INI) files on POSIX systems: the limits and the write seams that tests reach.
// The services themselves are GetPrivateProfileStringA and WritePrivateProfileStringA, declared
// in platform/win32_api.h with their Win32 contracts. Their code is split by job: reading and the
// format's line rules (profile_read.cpp), text encodings (profile_encoding.cpp), editing a file's
// text (profile_edit.cpp) and replacing the file safely (profile_replace.cpp).
#pragma once

#include <cstddef>
#include <functional>

namespace platform::posix {

// The steps of a profile write, in order. A write puts the whole new content into a temporary
// file beside the settings file and renames it over the old one only once it is complete and on
// disk, so the settings file is whole at every step.
enum class ProfileWriteStep {
  TemporaryCreated,  // the temporary file exists, still empty
  ChunkWritten,      // one more chunk of the new content is in the temporary file
  Synced,            // the temporary file is complete, closed and on disk
  BeforeRename,      // the next thing done is the rename over the settings file
};

// Called at every step of every profile write; none by default. Tests use it to make a write
// fail at a chosen step (by throwing: the write then returns FALSE and removes its temporary
// file) or to stop the process dead there.
void SetProfileWriteHook(std::function<void(ProfileWriteStep)> hook);

// The call that puts the temporary file's data on disk before it is renamed into place: fsync,
// or `sync` in its place (nullptr restores fsync). Tests use it to make the sync fail.
void SetProfileSyncCall(int (*sync)(int fd));

// The largest settings file a write loads. A write to a larger file fails and leaves it alone:
// a real settings file is a few lines, and a write must hold the whole file to rewrite it.
inline constexpr std::size_t kProfileWriteLimit = std::size_t{16} << 20;

// The size of the pieces a write puts into its temporary file.
inline constexpr std::size_t kProfileWriteChunk = std::size_t{64} << 10;

// The longest line a read holds in memory (a UTF-16 file's in its UTF-8 form). A longer line is
// passed over as if it were blank, so a file without line ends costs no more memory than this.
inline constexpr std::size_t kProfileLineLimit = std::size_t{16} << 20;

}  // namespace platform::posix
