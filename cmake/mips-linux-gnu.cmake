# Cross-compiling for 32-bit big-endian MIPS, as in many routers, with
# Debian's g++-mips-linux-gnu.
#   cmake -S . -B build-mips --toolchain cmake/mips-linux-gnu.cmake -DQUORVEL_TESTS=OFF
# The preset mips runs the host's end-to-end tests on it under qemu-mips.
set(cross_triple mips-linux-gnu)
set(cross_processor mips)
set(cross_qemu qemu-mips)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
