# Cross build for 64-bit Windows with Clang and LLD, against the same mingw-w64 headers and
# libraries and GCC's libstdc++ as Toolchain-mingw64.cmake; programs run under Wine. LLD writes
# a PDB for each module, which Windows debuggers read (GCC's DWARF they cannot).
include(${CMAKE_CURRENT_LIST_DIR}/Toolchain-mingw64-common.cmake)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)
# dlltool is not found beside clang-14; the mingw-w64 one writes the Microsoft import library.
set(CMAKE_DLLTOOL x86_64-w64-mingw32-dlltool)

# Clang finds the mingw-w64 headers itself but not GCC's C++ library for this target.
set(CMAKE_CXX_FLAGS_INIT "-isystem ${ZELKOR_GCC_RUNTIME}/include/c++ -isystem ${ZELKOR_GCC_RUNTIME}/include/c++/x86_64-w64-mingw32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${ZELKOR_LLD_LINK_FLAGS}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${ZELKOR_LLD_LINK_FLAGS}")
