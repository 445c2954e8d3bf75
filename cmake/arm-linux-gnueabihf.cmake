# Cross-compiling for 32-bit ARM with hardware floating point, with Debian's
# g++-arm-linux-gnueabihf: long, size_t and off_t are 32 bits wide there, and
# _FILE_OFFSET_BITS=64 widens off_t for files past 2 GiB.
#   cmake -S . -B build-arm --toolchain cmake/arm-linux-gnueabihf.cmake -DQUORVEL_TESTS=OFF
# The emulator runs the binary here, with the host's iconv: the preset arm
# runs the host's end-to-end tests on it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_STRIP arm-linux-gnueabihf-strip)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
