# What the Linux cross builds share (included by the toolchain-*-linux.cmake files,
# which set QUILTVIEW_CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR first): Debian's cross
# compiler of that triple (package g++-TRIPLE), its libraries under /usr/TRIPLE,
# GoogleTest built from source by the same compiler (the top-level CMakeLists does
# that for every cross build), and, where QUILTVIEW_CROSS_QEMU names an emulator
# that is installed, ctest running the programs under it.
set(CMAKE_SYSTEM_NAME Linux)

find_program(CMAKE_CXX_COMPILER NAMES ${QUILTVIEW_CROSS_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUILTVIEW_CROSS_TRIPLE}-gcc)

set(QUILTVIEW_CROSS_SYSROOT /usr/${QUILTVIEW_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH ${QUILTVIEW_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The target's dynamic loader and libraries are found under the sysroot (-L).
if(QUILTVIEW_CROSS_QEMU)
  find_program(QUILTVIEW_QEMU NAMES ${QUILTVIEW_CROSS_QEMU})
  if(QUILTVIEW_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILTVIEW_QEMU} -L ${QUILTVIEW_CROSS_SYSROOT})
  endif()
endif()
