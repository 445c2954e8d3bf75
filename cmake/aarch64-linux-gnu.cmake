# Cross-compiling for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu:
#   cmake -S . -B build-arm64 --toolchain cmake/aarch64-linux-gnu.cmake -DQUORVEL_TESTS=OFF
# The preset arm64 runs the host's end-to-end tests on it under qemu-aarch64.
# Copy the file and change the names for another target.
set(cross_triple aarch64-linux-gnu)
set(cross_processor aarch64)
set(cross_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
