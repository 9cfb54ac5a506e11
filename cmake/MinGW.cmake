# Shared part of the two MinGW-w64 toolchain files. The compilers are named
# with their "-posix" suffix on purpose: the plain names point to the "win32"
# thread model, where GCC 12 has no std::mutex or std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${FR_MINGW_TRIPLET})
set(CMAKE_C_COMPILER ${FR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${FR_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${FR_MINGW_TRIPLET}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${FR_MINGW_TRIPLET}-gcc-ranlib-posix CACHE FILEPATH "")

# Only the cross root and the third-party prefix are searched for libraries
# and headers; programs come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${FR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "${FR_MINGW_ARCH_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${FR_MINGW_ARCH_FLAGS}")
# Everything static: libgcc, libstdc++ and winpthread go into each DLL and
# executable, so they import nothing but the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
