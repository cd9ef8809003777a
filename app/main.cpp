#include "app/driver.h"

int main(int argc, char** argv) {
  return qv::runMain(argc, argv);
}
