// What reading a whole file is on every system: room for the size the file tells
// (pipes and devices tell none), doubled whenever it fills, until a read ends it.
#pragma once

#include <cstddef>
#include <string>

namespace qv::platform {

// Reads into text, which comes with its first capacity, until readSome(data, room)
// returns 0. readSome returns the bytes it read; it throws on a failure and retries
// what the system asks to retry.
template <class ReadSome>
std::string readUntilEnd(std::string text, ReadSome readSome) {
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) text.resize(text.size() * 2);
    const std::size_t n = readSome(text.data() + used, text.size() - used);
    if (n == 0) break;
    used += n;
  }
  text.resize(used);
  return text;
}

}  // namespace qv::platform
