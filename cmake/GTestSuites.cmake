# Run after a test program is built: lists its gtest suites and writes a CTest file with one test
# per suite, each running that suite's tests in one process. Used for the programs whose every
# process pays for starting a browser engine.
#   cmake -D EXECUTABLE=... -D PREFIX=... -D OUTPUT=... -D TIMEOUT=... -D LABELS=a,b
#         -D WORKING_DIRECTORY=... [-D PROCESSORS=n] -P GTestSuites.cmake
execute_process(COMMAND "${EXECUTABLE}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE result TIMEOUT 120)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${EXECUTABLE} --gtest_list_tests failed (${result}):\n${listing}")
endif()
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
string(REPLACE "," ";" labels "${LABELS}")
if(NOT PROCESSORS)
  set(PROCESSORS 1)
endif()
set(content "# Written by GTestSuites.cmake from ${EXECUTABLE}\n")
foreach(line IN LISTS lines)
  # Suite lines start in the first column and end with '.', perhaps followed by "  # TypeParam".
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*)\\.( .*)?$")
    set(suite "${CMAKE_MATCH_1}")
    set(test "${PREFIX}${suite}")
    string(APPEND content
      "add_test([=[${test}]=] [==[${EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([=[${test}]=] PROPERTIES TIMEOUT ${TIMEOUT} LABELS [==[${labels}]==]"
      " PROCESSORS ${PROCESSORS} WORKING_DIRECTORY [==[${WORKING_DIRECTORY}]==])\n")
  endif()
endforeach()
file(WRITE "${OUTPUT}" "${content}")
