// What the POSIX implementation's files share.
#pragma once

#include <cstddef>
#include <string>

namespace qv::platform {

// Writes every byte, retrying short writes and interruptions; a failure is an
// Error on name.
void writeAll(int fd, const char* data, std::size_t size, const std::string& name);

// The text of the symbolic link at link, read into a buffer that starts at
// firstGuess bytes and doubles until the text is shorter: the size a link reports
// can be 0 (some file systems) or stale (the link changed since). A failure is an
// Error on name, the path as the user typed it.
std::string readLink(const std::string& link, const std::string& name,
                     std::size_t firstGuess = 256);

// Whether the page's new file is unnamed until it is put in place, where the
// system has unnamed files (Linux, this build); tests turn tryUnnamedFiles off to
// run the named fallback on a file system that takes unnamed files.
extern const bool unnamedFilesBuilt;
extern bool tryUnnamedFiles;

}  // namespace qv::platform
