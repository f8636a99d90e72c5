# Cross build for 64-bit Windows with mingw-w64 (posix thread model); programs run under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/Toolchain-mingw64-common.cmake)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
