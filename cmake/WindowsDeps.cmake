# The third-party libraries of a Windows build: static archives cross-built
# by scripts/windows-deps into FR_WINDOWS_DEPS. They get the names the Linux
# build gives its pkg-config libraries' aliases (fr::pugixml, fr::pcre2,
# fr::cmark, fr::libzip) and GoogleTest's own (GTest::gtest, ...), so the
# rest of the tree links the same names on both systems.
set(FR_WINDOWS_DEPS "" CACHE PATH "Prefix of the cross-built third-party libraries (scripts/windows-deps libs ARCH)")
if(NOT FR_WINDOWS_DEPS OR NOT EXISTS ${FR_WINDOWS_DEPS}/.fr-deps)
  message(FATAL_ERROR "FR_WINDOWS_DEPS must name the prefix made by scripts/windows-deps libs "
                      "(x86_64 or i686); scripts/build-windows sets it")
endif()

function(fr_import_static NAME FILE)
  cmake_parse_arguments(ARG "" "" "DEFINES;LIBS" ${ARGN})
  if(NOT EXISTS ${FR_WINDOWS_DEPS}/lib/${FILE})
    message(FATAL_ERROR "${FR_WINDOWS_DEPS}/lib/${FILE} is missing: run scripts/windows-deps again")
  endif()
  add_library(${NAME} STATIC IMPORTED GLOBAL)
  set_target_properties(${NAME} PROPERTIES
    IMPORTED_LOCATION ${FR_WINDOWS_DEPS}/lib/${FILE}
    INTERFACE_INCLUDE_DIRECTORIES ${FR_WINDOWS_DEPS}/include
    INTERFACE_COMPILE_DEFINITIONS "${ARG_DEFINES}"
    INTERFACE_LINK_LIBRARIES "${ARG_LIBS}")
endfunction()

fr_import_static(fr::pugixml libpugixml.a)
fr_import_static(fr::pcre2 libpcre2-8.a DEFINES PCRE2_STATIC)
fr_import_static(fr::cmark libcmark.a DEFINES CMARK_STATIC_DEFINE)
fr_import_static(fr_zlib libz.a)
fr_import_static(fr::libzip libzip.a DEFINES ZIP_STATIC LIBS fr_zlib advapi32)
fr_import_static(GTest::gtest libgtest.a LIBS Threads::Threads)
fr_import_static(GTest::gtest_main libgtest_main.a LIBS GTest::gtest)
fr_import_static(GTest::gmock libgmock.a LIBS GTest::gtest)
fr_import_static(GTest::gmock_main libgmock_main.a LIBS GTest::gmock)
