# Cross-builds quiltview for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu.
#   cmake -S . -B build-aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux.cmake
# Where qemu-user is installed, ctest runs the tests under qemu-aarch64, and
#   QUILTVIEW_EMULATOR="qemu-aarch64 -L /usr/aarch64-linux-gnu" tests/golden/run.sh ...
# checks the golden data.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUILTVIEW_CROSS_TRIPLE aarch64-linux-gnu)
set(QUILTVIEW_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

