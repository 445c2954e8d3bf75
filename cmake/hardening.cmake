# Hardening, as Debian builds every package: fortified C library calls, the
# stack protector and stack-clash protection, control-flow protection on x86,
# a position-independent executable (where the build is not static), and
# relocations made read-only and bound at start. A flag is used only where the
# compiler and linker take it. Sets hardening_compile and hardening_link.
#
# What the builder gives (CPPFLAGS, CXXFLAGS and LDFLAGS, as they were at the
# first configure, or CMAKE_CXX_FLAGS and CMAKE_EXE_LINKER_FLAGS) is moved
# after the project's own flags, build type's included, so that it has the
# last word. Sets builder_compile and builder_link.
include(CheckCXXCompilerFlag)
include(CheckCXXSourceCompiles)
include(CheckLinkerFlag)

set(QUORVEL_CPPFLAGS "$ENV{CPPFLAGS}" CACHE STRING
    "Preprocessor flags that come after the project's own (CPPFLAGS at the first configure)")

set(hardening_compile "")
set(hardening_link "")
if(QUORVEL_HARDEN AND NOT QUORVEL_SANITIZE AND NOT QUORVEL_FUZZ)
  # Level 3 where the compiler can tell sizes known only at run time. The C
  # library's checks need optimisation, which a Debug build lacks; a level
  # that the builder gives stands.
  if(NOT "${QUORVEL_CPPFLAGS} ${CMAKE_CXX_FLAGS}" MATCHES "_FORTIFY_SOURCE")
    check_cxx_source_compiles(
      "int main() { char b[4]; return static_cast<int>(__builtin_dynamic_object_size(b, 0)); }"
      QUORVEL_HAVE_DYNAMIC_OBJECT_SIZE)
    if(QUORVEL_HAVE_DYNAMIC_OBJECT_SIZE)
      set(level 3)
    else()
      set(level 2)
    endif()
    list(APPEND hardening_compile "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>"
                                  "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=${level}>")
  endif()
  # A flag that the compiler only warns about (clang with
  # -fstack-clash-protection on macOS) is not taken.
  set(CMAKE_REQUIRED_FLAGS -Werror)
  foreach(flag IN ITEMS -fstack-protector-strong -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "QUORVEL_HAVE${flag}" have)
    check_cxx_compiler_flag(${flag} ${have})
    if(${have})
      list(APPEND hardening_compile ${flag})
    endif()
  endforeach()
  check_linker_flag(CXX "LINKER:-z,relro,-z,now" QUORVEL_HAVE_RELRO_NOW)
  if(QUORVEL_HAVE_RELRO_NOW)
    list(APPEND hardening_link "LINKER:-z,relro,-z,now")
    # Every symbol is bound at start, so calls go straight through the
    # read-only GOT, without the PLT's stubs.
    check_cxx_compiler_flag(-fno-plt QUORVEL_HAVE_NO_PLT)
    if(QUORVEL_HAVE_NO_PLT)
      list(APPEND hardening_compile -fno-plt)
    endif()
  endif()
  unset(CMAKE_REQUIRED_FLAGS)
  if(NOT QUORVEL_STATIC)
    include(CheckPIESupported)
    check_pie_supported(LANGUAGES CXX)
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  endif()
endif()

# Kept whole ("SHELL:"), so that no repeated flag of theirs is dropped.
string(STRIP "${QUORVEL_CPPFLAGS} ${CMAKE_CXX_FLAGS}" builder_compile)
string(STRIP "${CMAKE_EXE_LINKER_FLAGS}" builder_link)
foreach(flags IN ITEMS builder_compile builder_link)
  if(${flags})
    set(${flags} "SHELL:${${flags}}")
  endif()
endforeach()
set(CMAKE_CXX_FLAGS "")
set(CMAKE_EXE_LINKER_FLAGS "")
