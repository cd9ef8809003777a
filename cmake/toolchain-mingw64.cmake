# Cross-builds the Windows quiltview.exe on Debian with MinGW-w64 (package
# g++-mingw-w64-x86-64-posix): 64-bit, POSIX threads for std::thread, libgcc and
# libstdc++ linked in, so that the program imports only Windows' own DLLs.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
# Where Wine is installed, ctest runs the tests under it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILTVIEW_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_CXX_COMPILER NAMES ${QUILTVIEW_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${QUILTVIEW_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUILTVIEW_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILTVIEW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes winpthread in as well: the threads of the POSIX-threads compiler.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run under Wine: CTest starts every test binary through it, with a
# Wine prefix of the build folder's own, no debugging messages and no display.
find_program(QUILTVIEW_WINE NAMES wine)
find_program(QUILTVIEW_WINESERVER NAMES wineserver)
if(QUILTVIEW_WINE AND QUILTVIEW_WINESERVER)
  set(CMAKE_CROSSCOMPILING_EMULATOR sh ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
      ${CMAKE_BINARY_DIR}/wine)
endif()
