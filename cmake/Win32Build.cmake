# Windows side: the stub, Win32 tests and test fixtures, all PE32.
enable_language(RC)

# The C runtime is the system's msvcrt; MinGW's own printf stays out.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0 WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0501)

# Flags for everything that ends up inside the shipped stub: small, no unwinding machinery.
set(KOVSEA_LEAN_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-unwind-tables -fno-threadsafe-statics -ffunction-sections -fdata-sections -fno-ident)
set(KOVSEA_LEAN_LINK -Wl,--gc-sections -s -static-libgcc -static-libstdc++)

# GoogleTest compiled with the cross toolchain from the sources Debian ships.
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(t gtest gtest_main)
  target_compile_options(${t} PRIVATE -w)
  target_link_options(${t} INTERFACE -static-libgcc -static-libstdc++ -static)
endforeach()

function(kovsea_add_wine_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE gtest_main kovsea_run kovsea_resources kovsea_platform_win32)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES LABELS wine TIMEOUT 300 SKIP_RETURN_CODE 77)
endfunction()
