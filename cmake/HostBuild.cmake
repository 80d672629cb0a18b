# Host side: the portable core, the packer, unit tests with the fake platform, fuzzers.
find_package(GTest REQUIRED CONFIG)
include(GoogleTest)

option(KOVSEA_SANITIZE "Build host code with AddressSanitizer and UBSan" OFF)
if(KOVSEA_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
add_compile_definitions(_FILE_OFFSET_BITS=64)
set(KOVSEA_LEAN_FLAGS)
set(KOVSEA_LEAN_LINK)

function(kovsea_add_host_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE GTest::gtest_main kovsea_run kovsea_platform_fake)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS host)
endfunction()

# Fuzz targets need clang's libFuzzer; they build as a project of their own.
find_program(KOVSEA_CLANGXX clang++)
if(KOVSEA_CLANGXX)
  include(ExternalProject)
  ExternalProject_Add(kovsea_fuzzers
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/fuzz
    BINARY_DIR ${CMAKE_BINARY_DIR}/fuzz
    CMAKE_ARGS -DCMAKE_CXX_COMPILER=${KOVSEA_CLANGXX} -DCMAKE_BUILD_TYPE=RelWithDebInfo -G Ninja
      -DKOVSEA_STUB_SIZE_BUDGET=${KOVSEA_STUB_SIZE_BUDGET}
    INSTALL_COMMAND ""
    BUILD_ALWAYS TRUE)
endif()
if(KOVSEA_CLANGXX)
  # A bounded run of each fuzzer on every test pass; longer runs are made by hand (README).
  foreach(fuzzer decoder_fuzz reader_fuzz)
    add_test(NAME ${fuzzer}_bounded
      COMMAND sh -c "rm -rf ${fuzzer}-corpus && mkdir ${fuzzer}-corpus && exec ${CMAKE_BINARY_DIR}/fuzz/${fuzzer} ${fuzzer}-corpus ${CMAKE_SOURCE_DIR}/tests/fuzz/corpus -max_total_time=30 -rss_limit_mb=4096 -print_final_stats=1"
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(${fuzzer}_bounded PROPERTIES LABELS "host;fuzz" TIMEOUT 300)
  endforeach()
endif()
