// What reading a whole file is on every system: room for the size the file tells
// (pipes and devices tell none), doubled whenever it fills, until a read ends it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>

#include "base/error.h"

namespace qv::platform {

// Reads path's file into text, which comes with its first capacity, until readSome(data, room)
// returns 0. readSome returns the bytes it read; it throws on a failure and retries
// what the system asks to retry. A file that outgrows what a string can hold (on a
// 32-bit system, 2 GB) fails with ENOMEM, not with the C++ library's length error.
template <class ReadSome>
std::string readUntilEnd(const std::string& path, std::string text, ReadSome readSome) {
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) {
      if (used == text.max_size()) throw Error::io(path, "readFile", ENOMEM);
      text.resize(used <= text.max_size() / 2 ? used * 2 : text.max_size());
    }
    const std::size_t n = readSome(text.data() + used, text.size() - used);
    if (n == 0) break;
    used += n;
  }
  text.resize(used);
  return text;
}

}  // namespace qv::platform
