// What the POSIX implementation's files share. Each returns 0 or the errno of the
// failed call.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/shared.h"

namespace qv::platform {

// Writes every byte, retrying short writes and interruptions.
int writeAll(int fd, const char* data, std::size_t size);

// The text of the symbolic link at link, read into a buffer that starts at
// firstGuess bytes and doubles until the text is shorter: the size a link reports
// can be 0 (some file systems) or stale (the link changed since).
int readLink(const std::string& link, std::string& text, std::size_t firstGuess = 256);

// The page's steps; a new file is unnamed until the commit where tryUnnamedFiles
// and the system (unnamedFilesBuilt: Linux, this build) allow it.
std::unique_ptr<PageSteps> posixPageSteps(bool tryUnnamedFiles);
extern const bool unnamedFilesBuilt;

}  // namespace qv::platform
