# Cross-compiling for 32-bit ARM with hardware floating point, with Debian's
# g++-arm-linux-gnueabihf: long, size_t and off_t are 32 bits wide there, and
# _FILE_OFFSET_BITS=64 widens off_t for files past 2 GiB.
#   cmake -S . -B build-arm --toolchain cmake/arm-linux-gnueabihf.cmake -DQUORVEL_TESTS=OFF
# The preset arm runs the host's end-to-end tests on it under qemu-arm.
set(cross_triple arm-linux-gnueabihf)
set(cross_processor arm)
set(cross_qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
