# Cross-builds quiltview for 32-bit x86 Linux with Debian's g++-i686-linux-gnu.
#   cmake -S . -B build-i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-linux.cmake
# The programs are linked statically, so that they need no 32-bit libraries on the
# machine that runs them. Where the kernel runs 32-bit x86 code, ctest runs them
# directly; where it does not (some kernels have that switched off), under
# qemu-i386, which hangs in a dynamically linked program's first thread but runs
# a static one. The golden data:
#   QUILTVIEW_EMULATOR=qemu-i386 tests/golden/run.sh ...   (or no emulator)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILTVIEW_CROSS_TRIPLE i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The toolchain's own dynamic loader, a 32-bit program, says whether they run here.
execute_process(COMMAND ${QUILTVIEW_CROSS_SYSROOT}/lib/ld-linux.so.2 --version
                RESULT_VARIABLE QUILTVIEW_I686_RUNS OUTPUT_QUIET ERROR_QUIET)
if(NOT QUILTVIEW_I686_RUNS EQUAL 0)
  find_program(QUILTVIEW_QEMU NAMES qemu-i386)
  if(QUILTVIEW_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILTVIEW_QEMU})
  endif()
endif()
