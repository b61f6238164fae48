# sipline_library(NAME SOURCES... [DEPS lib...])
# One static library per subsystem folder.
function(sipline_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC sipline_options ${ARG_DEPS})
endfunction()

# sipline_test(NAME SOURCES... [LIBS lib...] [LABELS label...] [TIMEOUT s])
# One GoogleTest executable, registered as one CTest test. Not built for fuzzing.
function(sipline_test name)
  if(SIPLINE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE sipline_options ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  # The test bodies themselves unoptimised: they are most of the build's compile time (GoogleTest's
  # macros, and under ASan their instrumentation), while what they exercise is the libraries,
  # built as the build type says. The last -O on the command line wins.
  target_compile_options(${name} PRIVATE -O0)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}")
endfunction()

# sipline_script_test(NAME SCRIPT [ARGS...] [LABELS label...] [TIMEOUT s])
# A shell-driven integration test (SIPp, GStreamer, tshark, network namespaces).
# The script gets the build folder in SIPLINE_BUILD and the source folder in SIPLINE_SOURCE.
function(sipline_script_test name script)
  if(SIPLINE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "ARGS;LABELS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${script} ${ARG_ARGS})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "integration;${ARG_LABELS}"
    ENVIRONMENT "SIPLINE_BUILD=${CMAKE_BINARY_DIR};SIPLINE_SOURCE=${CMAKE_SOURCE_DIR}")
endfunction()

# sipline_fuzzer(NAME SOURCE LIBS...): a libFuzzer target; fuzz/corpus/NAME holds its seeds.
function(sipline_fuzzer name source)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE sipline_options ${ARGN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endfunction()
