# Cross-compiling for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu:
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake -DQUORVEL_TESTS=OFF
# The emulator runs the binary here, with the host's iconv: the preset arm64
# runs the host's end-to-end tests on it. Copy the file and change the names
# for another target.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_STRIP aarch64-linux-gnu-strip)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
