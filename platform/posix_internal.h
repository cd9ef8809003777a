// What the POSIX implementation's files share.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/shared.h"

namespace qv::platform {

// The text of the symbolic link at link, read into a buffer that starts at
// firstGuess bytes and doubles until the text is shorter: the size a link reports
// can be 0 (some file systems) or stale (the link changed since). Returns 0 or the
// errno of the failure.
int readLink(const std::string& link, std::string& text, std::size_t firstGuess = 256);

// The page's steps; a new file is unnamed until the commit where tryUnnamedFiles
// and the system (unnamedFilesBuilt: Linux, this build) allow it.
std::unique_ptr<PageSteps> posixPageSteps(bool tryUnnamedFiles);
extern const bool unnamedFilesBuilt;

}  // namespace qv::platform
