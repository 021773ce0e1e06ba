# Cross build for 64-bit Windows with Debian's MinGW-w64, as
# scripts/build-windows.sh runs it:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake \
#         -DGLIMMER_MINGW_PREFIXES="<prefix>;<prefix>..."
# The -posix compilers: GCC 12's -win32 ones have no std::thread or
# std::mutex. Only 64-bit: Debian's Wine runs 64-bit programs without the
# i386 architecture.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLIMMER_TARGET_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${GLIMMER_TARGET_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIMMER_TARGET_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GLIMMER_TARGET_TRIPLET}-windres)

# The libraries built for MinGW live in one install prefix each (keyed by
# their versions, outside the clone); the MinGW runtime's own headers and
# libraries in Debian's /usr/x86_64-w64-mingw32.
set(GLIMMER_MINGW_PREFIXES "${GLIMMER_MINGW_PREFIXES}" CACHE STRING
    "Install prefixes of the libraries built for MinGW")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLIMMER_MINGW_PREFIXES)
set(CMAKE_FIND_ROOT_PATH /usr/${GLIMMER_TARGET_TRIPLET} ${GLIMMER_MINGW_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: the programs then need nothing beside them but
# Windows' own DLLs.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# pkg-config looks in those prefixes only, never at the build machine's .pc
# files.
set(glimmer_pc_path "")
foreach(prefix ${GLIMMER_MINGW_PREFIXES})
  list(APPEND glimmer_pc_path ${prefix}/lib/pkgconfig ${prefix}/share/pkgconfig)
endforeach()
string(REPLACE ";" ":" glimmer_pc_path "${glimmer_pc_path}")
set(ENV{PKG_CONFIG_LIBDIR} "${glimmer_pc_path}")
set(ENV{PKG_CONFIG_PATH} "")

# Programs the build runs (test discovery) run under Wine.
find_program(GLIMMER_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(GLIMMER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GLIMMER_WINE} CACHE STRING "")
endif()
