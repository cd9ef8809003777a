// Prints the number of nodes of a document's name tree (for the benchmark table).
//
//   quiltview_nodes FILE
#include <cstdio>

#include "base/error.h"
#include "platform/platform.h"
#include "xml/reader.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
    return 2;
  }
  try {
    const qv::LabelTree tree = qv::nameTreeOf(argv[1], qv::platform::readWholeFile(argv[1]));
    std::printf("%zu\n", tree.size());
  } catch (const qv::Error& e) {
    std::fprintf(stderr, "%s\n", e.message().c_str());
    return 1;
  }
  return 0;
}
