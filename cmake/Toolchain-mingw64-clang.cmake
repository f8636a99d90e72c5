# Cross build for 64-bit Windows with Clang and LLD, against the same mingw-w64 headers and
# libraries and GCC's libstdc++ as Toolchain-mingw64.cmake; programs run under Wine. LLD writes
# a PDB for each module, which Windows debuggers read (GCC's DWARF they cannot).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# dlltool is not found beside clang-14; the mingw-w64 one writes the Microsoft import library.
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# Clang finds the mingw-w64 headers itself but not GCC's C++ library for this target.
set(_zelkor_gcc /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_zelkor_gcc}/include/c++ -isystem ${_zelkor_gcc}/include/c++/x86_64-w64-mingw32")
# libstdc++'s exception pool needs winpthread's mutexes, which GCC's driver adds by itself.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_zelkor_gcc}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${_zelkor_gcc}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${CMAKE_EXE_LINKER_FLAGS_INIT} -lwinpthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${CMAKE_SHARED_LINKER_FLAGS_INIT} -lwinpthread")
# LLD in MinGW mode has no --push-state; CMake then wraps whole archives the older way.
set(_CMAKE_LINKER_PUSHPOP_STATE_SUPPORTED FALSE CACHE INTERNAL "")
