# Cross build for 64-bit ARM boards (Raspberry Pi 3, 4, 5 and the like) on a
# Debian machine with crossbuild-essential-arm64 and the :arm64 libraries:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
# Programs the build itself runs (the manual pages, the tests) run under
# qemu-user-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GLIMMER_TARGET_TRIPLET aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${GLIMMER_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${GLIMMER_TARGET_TRIPLET}-g++)

# Debian's multiarch layout: the arm64 libraries and headers live beside the
# build machine's, in their own triplet folders, so the root stays /.
set(CMAKE_LIBRARY_ARCHITECTURE ${GLIMMER_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Debian's wrapper asks pkg-config about the arm64 libraries only.
set(PKG_CONFIG_EXECUTABLE /usr/bin/${GLIMMER_TARGET_TRIPLET}-pkg-config CACHE FILEPATH "")

find_program(GLIMMER_QEMU qemu-aarch64-static)
if(GLIMMER_QEMU)
  # The target's loader and libraries are found at their multiarch places.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GLIMMER_QEMU};-L;/ CACHE STRING "")
endif()

# Qt's own build tools (moc) are the build machine's, from its qt6-base-dev.
execute_process(COMMAND dpkg-architecture -qDEB_BUILD_MULTIARCH
                OUTPUT_VARIABLE GLIMMER_BUILD_TRIPLET OUTPUT_STRIP_TRAILING_WHITESPACE)
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${GLIMMER_BUILD_TRIPLET}/cmake CACHE PATH "")
