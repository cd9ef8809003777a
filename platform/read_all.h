// What reading a whole file is on every system: room for the size the file tells
// (pipes and devices tell none), doubled whenever it fills, until a read ends it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv::platform {

// Reads into text, which comes with its first capacity, until readSome(data, room)
// returns 0; readSome returns the bytes it read or minus the errno of a failure,
// and retries what the system asks to retry. Returns 0 or that errno; a file that
// outgrows what a string can hold (on a 32-bit system, 2 GB) fails with ENOMEM.
template <class ReadSome>
int readUntilEnd(std::string& text, ReadSome readSome) {
  std::size_t used = 0;
  for (;;) {
    if (used == text.size()) {
      if (used == text.max_size()) return ENOMEM;
      text.resize(used <= text.max_size() / 2 ? used * 2 : text.max_size());
    }
    const std::int64_t n = readSome(text.data() + used, text.size() - used);
    if (n < 0) return static_cast<int>(-n);
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  text.resize(used);
  return 0;
}

}  // namespace qv::platform
