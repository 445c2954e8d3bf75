# What the toolchain files for Debian's cross compilers share: each sets
# cross_triple (the compiler's prefix and sysroot), cross_processor and
# cross_qemu, then includes this file. The emulator runs the binary here with
# the host's iconv, for the tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_processor})
set(CMAKE_CXX_COMPILER ${cross_triple}-g++)
set(CMAKE_STRIP ${cross_triple}-strip)
set(CMAKE_CROSSCOMPILING_EMULATOR ${cross_qemu} -L /usr/${cross_triple})
set(CMAKE_FIND_ROOT_PATH /usr/${cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
