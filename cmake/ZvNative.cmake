# The native Linux build: the platform-free code and its tests, under
# AddressSanitizer and UBSan, and the fuzz targets when the compiler is clang.
# clang-tidy reads how each file is compiled (native.tidy).
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
option(ZV_SANITIZE "Build with AddressSanitizer and UBSan" ON)
if(ZV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
set(ZV_FUZZ OFF)
set(ZV_FUZZ_SEEDS ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(ZV_FUZZ ON)
endif()

# zv_native_test(name SOURCES ... LIBS ...)
function(zv_native_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST TEST_PREFIX "native.")
endfunction()

# zv_fuzz_target(name SOURCES ... LIBS ... SECONDS n): a libFuzzer target and a
# short run of it as a test, from the committed seeds in
# tests/fuzz/corpus/<name> (read only) and a corpus of the build's own.
# `./dev.sh fuzz` runs the same targets longer.
function(zv_fuzz_target name)
  cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT ZV_FUZZ)
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 20)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  set(seeds "")
  if(IS_DIRECTORY ${ZV_FUZZ_SEEDS}/${name})
    set(seeds ${ZV_FUZZ_SEEDS}/${name})
  endif()
  add_test(NAME native.fuzz.${name}
           COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                   $<TARGET_FILE:${name}> -max_total_time=${ARG_SECONDS} -print_final_stats=0 ${corpus} ${seeds})
  set_tests_properties(native.fuzz.${name} PROPERTIES FIXTURES_REQUIRED ${name}-corpus)
  add_test(NAME native.fuzz.${name}.corpus COMMAND ${CMAKE_COMMAND} -E make_directory ${corpus})
  set_tests_properties(native.fuzz.${name}.corpus PROPERTIES FIXTURES_SETUP ${name}-corpus)
endfunction()
