# Windows x86-64 DLL, cross-compiled with MinGW-w64 (posix thread model).
set(FR_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
