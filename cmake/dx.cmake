# Project helpers: one static library per folder, one test program per test folder.

# dx_library(<name> [DEPS libs...])
# Builds every *.cpp of the current folder into a static library.
function(dx_library name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  else()
    # A folder that has no sources yet still gives a target others can link.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_DEPS})
  endif()
endfunction()

# dx_tests(<name> [DEPS libs...])
# Every *_test.cpp of the current folder goes into the program <name>; every *_it.cpp
# (tests that call outside tools or servers) into <name>_it, labelled "integration".
# Other *.cpp files of the folder are shared fixtures linked into both.
function(dx_tests name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB unit CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB integ CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_it.cpp)
  file(GLOB all CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(fixtures ${all})
  if(unit OR integ)
    list(REMOVE_ITEM fixtures ${unit} ${integ})
  endif()
  foreach(kind unit integ)
    if(NOT ${kind})
      continue()
    endif()
    set(exe ${name})
    set(labels unit)
    if(kind STREQUAL "integ")
      set(exe ${name}_it)
      set(labels integration)
    endif()
    add_executable(${exe} ${${kind}} ${fixtures})
    target_link_libraries(${exe} PRIVATE ${A_DEPS} GTest::gtest_main GTest::gmock Threads::Threads)
    target_compile_definitions(${exe} PRIVATE
      DX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      DX_BINARY_DIR="${PROJECT_BINARY_DIR}"
      DX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    gtest_discover_tests(${exe}
      DISCOVERY_MODE PRE_TEST
      DISCOVERY_TIMEOUT 60
      PROPERTIES LABELS "${labels}" TIMEOUT 300)
  endforeach()
endfunction()

# dx_fuzzer(<name> <source> [DEPS libs...] [RUNS n] [SEEDED])
# With DX_FUZZ (clang) a libFuzzer program run for a fixed count of inputs; otherwise the
# same entry point is driven by a small deterministic driver so the target always builds
# and runs its seed inputs. SEEDED: the target reads seed files (cmake/FuzzSeed.h) from the
# test data folder; a second test checks that it fails when they are missing.
function(dx_fuzzer name source)
  cmake_parse_arguments(A "SEEDED" "RUNS" "DEPS" ${ARGN})
  if(NOT A_RUNS)
    set(A_RUNS 20000)
  endif()
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  target_compile_definitions(${name} PRIVATE
    DX_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  if(DX_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME ${name} COMMAND ${name} -runs=${A_RUNS} -max_len=4096 -timeout=10 -rss_limit_mb=2048)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/fuzz_driver.cpp)
    add_test(NAME ${name} COMMAND ${name} ${A_RUNS})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 600)
  if(A_SEEDED)
    set(one_run 1)
    if(DX_FUZZ)
      set(one_run -runs=1)
    endif()
    add_test(NAME ${name}_fails_without_seeds
      COMMAND sh -c "out=$(DX_TEST_DATA_DIR=/nonexistent \"$0\" $1 2>&1) && exit 1; \
                     echo \"$out\" | grep -q 'missing seed file'"
              $<TARGET_FILE:${name}> ${one_run})
    set_tests_properties(${name}_fails_without_seeds PROPERTIES LABELS "unit;fuzz" TIMEOUT 60)
  endif()
endfunction()

# dx_bench(<name> <sources...> [DEPS libs...]): a Google Benchmark program.
function(dx_bench name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  add_executable(${name} ${A_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${A_DEPS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE DX_SOURCE_DIR="${PROJECT_SOURCE_DIR}" DX_BINARY_DIR="${PROJECT_BINARY_DIR}")
endfunction()
