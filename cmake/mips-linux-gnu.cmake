# Cross-compiling for 32-bit big-endian MIPS, as in many routers, with
# Debian's g++-mips-linux-gnu.
#   cmake -S . -B build-mips --toolchain cmake/mips-linux-gnu.cmake -DQUORVEL_TESTS=OFF
# The emulator runs the binary here, with the host's iconv: the preset mips
# runs the host's end-to-end tests on it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_CXX_COMPILER mips-linux-gnu-g++)
set(CMAKE_STRIP mips-linux-gnu-strip)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips -L /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/mips-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
