// Writes a deterministic benchmark document on the standard output.
//
//   quiltview_gen catalog|wide|deep|soup BYTES SEED
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/generate.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s catalog|wide|deep|soup BYTES SEED\n", argv[0]);
    return 2;
  }
  if (!qvbench::generate(argv[1], std::strtoull(argv[2], nullptr, 10),
                         std::strtoull(argv[3], nullptr, 10), stdout)) {
    std::fprintf(stderr, "unknown shape %s\n", argv[1]);
    return 2;
  }
  return 0;
}
