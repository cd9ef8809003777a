# Cross-builds quiltview for s390x Linux (64-bit, big-endian) with Debian's
# g++-s390x-linux-gnu.
#   cmake -S . -B build-s390x -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x-linux.cmake
# Where qemu-user is installed, ctest runs the tests under qemu-s390x, and
#   QUILTVIEW_EMULATOR="qemu-s390x -L /usr/s390x-linux-gnu" tests/golden/run.sh ...
# checks the golden data.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(QUILTVIEW_CROSS_TRIPLE s390x-linux-gnu)
set(QUILTVIEW_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

