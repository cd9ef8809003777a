// What the POSIX implementation's files share.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/shared.h"

namespace qv::platform {

// The text of the link, in a buffer of firstGuess bytes doubled until the text is
// shorter (the size a link reports can be 0 or stale). Returns 0 or the errno.
int readLink(const std::string& link, std::string& text, std::size_t firstGuess = 256);

// The page's steps; a new file is unnamed until the commit where tryUnnamedFiles
// and the system (unnamedFilesBuilt: Linux, this build) allow it.
std::unique_ptr<PageSteps> posixPageSteps(bool tryUnnamedFiles);
extern const bool unnamedFilesBuilt;

}  // namespace qv::platform
