# What both toolchain files share: the target, the mingw-w64 root, Wine, and how LLD links for
# this target (every module of the Clang build, the DLL of the GCC build).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# GCC's C++ library and runtime for this target; the Clang driver finds neither by itself.
set(ZELKOR_GCC_RUNTIME /usr/lib/gcc/x86_64-w64-mingw32/12-posix)
# The Clang driver that runs LLD. libstdc++'s exception pool needs winpthread's mutexes, which
# GCC's driver adds by itself and Clang's does not.
set(ZELKOR_LLD_DRIVER "clang++-14 --target=x86_64-w64-mingw32")
set(ZELKOR_LLD_LINK_FLAGS "-fuse-ld=lld -L${ZELKOR_GCC_RUNTIME} -lwinpthread")
# LLD in MinGW mode has no --push-state; CMake then wraps whole archives the older way, which
# means the same to BFD ld.
set(_CMAKE_LINKER_PUSHPOP_STATE_SUPPORTED FALSE CACHE INTERNAL "")
