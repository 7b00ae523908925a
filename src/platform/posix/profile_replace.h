// Loading a settings file for a write and putting its new content in place, whole or not at all
// (profile_replace.cpp). Links are followed first, by ResolveLinks.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>

namespace platform::posix {

// The file a path names, symbolic links followed, so that a write replaces the link's target and
// keeps the link. The target need not exist yet. Nothing for a loop of links.
std::optional<std::string> ResolveLinks(std::string path);

// The present content of the file at `path`, with its permissions and owner, or empty content
// and neither when there is no file yet. False for anything that is not a regular file, for a
// file that cannot be read, and for one over kProfileWriteLimit.
bool LoadForWriting(const std::string& path, std::string& content, std::optional<mode_t>& mode,
                    std::optional<std::pair<uid_t, gid_t>>& owner);

// Replaces the file at `path` (links already followed) by `content`, keeping `mode` and `owner`
// where given (a new file gets the umask's permissions). False, with the old file as it was and
// no temporary file left, when any step fails, the sync to disk included.
bool ReplaceFile(const std::string& path, const std::string& content, std::optional<mode_t> mode,
                 std::optional<std::pair<uid_t, gid_t>> owner);

}  // namespace platform::posix
