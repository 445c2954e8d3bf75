# A static build against musl with Debian's musl-tools: the smallest binary,
# for small systems and for batch runs, where it starts fastest.
#   cmake -S . -B build-musl --toolchain cmake/x86_64-linux-musl.cmake -DQUORVEL_STATIC=ON
# musl-gcc's specs file serves g++ too, given libstdc++'s own header folders
# (headers only: the tool needs no C++ run-time library) and a stand-in for
# glibc's __GLIBC_PREREQ, which those headers ask for. It links with musl's
# libc.a alone.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER g++)
execute_process(COMMAND g++ -dumpversion OUTPUT_VARIABLE gcc_version OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REGEX MATCH "^[0-9]+" gcc_major "${gcc_version}")
set(CMAKE_CXX_FLAGS_INIT
    "-specs /usr/lib/x86_64-linux-musl/musl-gcc.specs -isystem /usr/include/c++/${gcc_major} -isystem /usr/include/x86_64-linux-gnu/c++/${gcc_major} \"-D__GLIBC_PREREQ(a,b)=0\"")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -nodefaultlibs")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lc -lgcc")
