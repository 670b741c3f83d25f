# kbr_require_targets(AREA target ...)
# Stops the configuration when a target that AREA's tests need is missing, instead of leaving those
# tests out without a word.
function(kbr_require_targets area)
  foreach(_target IN LISTS ARGN)
    if(NOT TARGET ${_target})
      message(FATAL_ERROR "${area}: ${_target} is not in the build, so its tests cannot be built")
    endif()
  endforeach()
endfunction()

# kbr_add_gtest(NAME SOURCES ... LIBS ... [TIMEOUT seconds] [LABELS ...] [PER_SUITE])
# Each test becomes a CTest test of its own; with PER_SUITE (implied by the label "webengine")
# each gtest suite does instead, so that the tests of a suite share one process and pay for one
# engine start. TIMEOUT is per CTest test (at least 300 s for a suite).
set(KBR_GTEST_SUITES_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/GTestSuites.cmake)
function(kbr_add_gtest name)
  cmake_parse_arguments(ARG "PER_SUITE" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} kbr_test_sockets GTest::gtest GTest::gtest_main GTest::gmock kbr_options
                                        Threads::Threads)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 60)
  endif()
  if(ARG_PER_SUITE OR "webengine" IN_LIST ARG_LABELS)
    # A suite runs many tests in one go.
    if(ARG_TIMEOUT LESS 300)
      set(ARG_TIMEOUT 300)
    endif()
    set(_suites ${CMAKE_CURRENT_BINARY_DIR}/${name}_suites.cmake)
    list(JOIN ARG_LABELS "," _labels)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -D EXECUTABLE=$<TARGET_FILE:${name}> -D PREFIX=${name}. -D OUTPUT=${_suites}
              -D TIMEOUT=${ARG_TIMEOUT} -D LABELS=${_labels} -D WORKING_DIRECTORY=${CMAKE_CURRENT_BINARY_DIR}
              -P ${KBR_GTEST_SUITES_SCRIPT}
      BYPRODUCTS ${_suites}
      VERBATIM)
    # Before the first build there is nothing to list: say so instead of running nothing.
    set(_include ${CMAKE_CURRENT_BINARY_DIR}/${name}_include.cmake)
    file(WRITE ${_include}
      "if(EXISTS [==[${_suites}]==])\n  include([==[${_suites}]==])\nelse()\n"
      "  add_test([=[${name}_NOT_BUILT]=] ${name}_NOT_BUILT)\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_include})
  else()
    # A list value inside PROPERTIES must keep its separators, or only its first item is kept.
    string(REPLACE ";" "\\;" _labels "${ARG_LABELS}")
    if(KBR_WINE_FIXTURE)
      gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
                           PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${_labels}" FIXTURES_REQUIRED ${KBR_WINE_FIXTURE})
    else()
      gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${_labels}")
    endif()
  endif()
endfunction()

# kbr_add_fuzz_target(NAME SOURCES ... LIBS ... CORPUS dir [SEEDS dir])
# The target file defines LLVMFuzzerTestOneInput. Without libFuzzer it is linked with a small
# driver that runs every file of the corpus once, and CTest runs that replay. SEEDS is the
# committed folder that fuzzing runs grow (default: CORPUS; give it when CORPUS is a copy made in
# the build tree). With libFuzzer every target is listed in <build>/fuzz-targets.txt, one line
# each: name, program, corpus and seeds, separated by tabs; scripts/fuzz runs what it lists.
function(kbr_add_fuzz_target name)
  cmake_parse_arguments(ARG "" "CORPUS;SEEDS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name}_replay ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
  target_link_libraries(${name}_replay PRIVATE ${ARG_LIBS} kbr_options)
  if(KBR_BUILD_TESTS AND ARG_CORPUS)
    add_test(NAME ${name}_corpus_replay COMMAND ${name}_replay ${ARG_CORPUS})
    set_tests_properties(${name}_corpus_replay PROPERTIES TIMEOUT 120 LABELS fuzz)
    if(KBR_WINE_FIXTURE)
      set_tests_properties(${name}_corpus_replay PROPERTIES FIXTURES_REQUIRED ${KBR_WINE_FIXTURE})
    endif()
  endif()
  if(KBR_BUILD_FUZZ)
    add_executable(${name} ${ARG_SOURCES})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} kbr_options)
    if(NOT ARG_SEEDS)
      set(ARG_SEEDS ${ARG_CORPUS})
    endif()
    set_property(GLOBAL APPEND_STRING PROPERTY KBR_FUZZ_MANIFEST
      "${name}\t$<TARGET_FILE:${name}>\t${ARG_CORPUS}\t${ARG_SEEDS}\n")
    get_property(_deferred GLOBAL PROPERTY KBR_FUZZ_MANIFEST_DEFERRED)
    if(NOT _deferred)
      set_property(GLOBAL PROPERTY KBR_FUZZ_MANIFEST_DEFERRED TRUE)
      # Written once the whole project is configured, so targets of every folder are in it.
      cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _kbr_write_fuzz_manifest)
    endif()
  endif()
endfunction()

function(_kbr_write_fuzz_manifest)
  get_property(_content GLOBAL PROPERTY KBR_FUZZ_MANIFEST)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz-targets.txt CONTENT "${_content}")
endfunction()
