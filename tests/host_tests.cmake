# The end-to-end tests of a host build (QUORVEL_HOST_TESTS, its run_tests)
# run on this build's tool: through the toolchain's emulator for another
# machine, natively for another C library. One CTest entry per suite.
if(NOT EXISTS ${QUORVEL_HOST_TESTS})
  message(WARNING "${QUORVEL_HOST_TESTS} does not exist yet: build the host tests first "
                  "(cmake --workflow --preset default)")
endif()
enable_testing()
# Under an emulator, posix_spawnp cannot report a converter that is not found
# (the emulated child starts, then exits with 127), as under valgrind.
set(left_out "")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(left_out ":-Run.MissingConverterLeavesPoUntouched")
endif()
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " wrapper)
foreach(suite IN ITEMS Run Faults Corpus InjectedFaults)
  add_test(NAME e2e.${suite} COMMAND ${QUORVEL_HOST_TESTS} --gtest_filter=${suite}.*:*/${suite}.*${left_out})
  set_tests_properties(e2e.${suite} PROPERTIES TIMEOUT 1800
    ENVIRONMENT "QUORVEL_BIN=$<TARGET_FILE:quorvel>;QUORVEL_WRAPPER=${wrapper}")
endforeach()
# Without a corpus, that test is skipped, not passed.
set_tests_properties(e2e.Corpus PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
if(QUORVEL_STATIC AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # The static build for small systems stays within 64 KiB.
  add_test(NAME size COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/install_test.sh size
                             ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} 65536)
  set_tests_properties(size PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()
