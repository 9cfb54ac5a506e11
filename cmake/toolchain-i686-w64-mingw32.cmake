# Windows x86 DLL, cross-compiled with MinGW-w64 (posix thread model). The
# platform's client calls in with only 4-byte stack alignment: code that needs
# more realigns its own frame.
set(FR_MINGW_TRIPLET i686-w64-mingw32)
set(FR_MINGW_ARCH_FLAGS "-mincoming-stack-boundary=2")
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
