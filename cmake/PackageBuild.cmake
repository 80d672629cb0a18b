# The packages from one command, `cmake --workflow --preset package`: this host build makes
# the Debian package and builds the Windows side inside itself (in win32/), whose zip it writes
# beside the .deb in packages/. Every tool either package needs is looked for here, so that a
# missing one stops the configure at once, saying which, rather than the package step minutes
# later.

# The cross compilers cmake/mingw-i686.cmake names, the resource compiler, and what the
# workflow's own check of the .deb runs.
set(kovsea_package_tools
  "i686-w64-mingw32-gcc-posix|the Windows side is built with MinGW-w64 (package gcc-mingw-w64-i686)"
  "i686-w64-mingw32-g++-posix|the Windows side is built with MinGW-w64 (package g++-mingw-w64-i686)"
  "i686-w64-mingw32-windres|the Windows side's resources are compiled with windres (package binutils-mingw-w64-i686)"
  "dpkg|the .deb is checked by unpacking it with dpkg (package dpkg)"
  "lintian|the .deb is checked with lintian (package lintian)"
  "man|the manual page is checked with man (package man-db)")
set(kovsea_missing "")
foreach(entry IN LISTS kovsea_package_tools)
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 tool)
  list(GET entry 1 why)
  find_program(KOVSEA_TOOL_${tool} ${tool})
  if(NOT KOVSEA_TOOL_${tool})
    string(APPEND kovsea_missing "\n  ${tool}: ${why}")
  endif()
endforeach()
if(kovsea_missing)
  message(FATAL_ERROR "The packages cannot be made: not installed:${kovsea_missing}\n"
                      "scripts/bootstrap installs all of them (as root).")
endif()

# The Windows build: the stub and kovsea-observer.exe go into the .deb, the Windows kovsea.exe
# and the stub into the zip. It is configured with the win32 preset's own settings.
include(ExternalProject)
set(KOVSEA_WIN32_DIR ${CMAKE_BINARY_DIR}/win32)
ExternalProject_Add(kovsea_win32
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${KOVSEA_WIN32_DIR}
  CONFIGURE_COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${KOVSEA_WIN32_DIR} --preset win32
    -DKOVSEA_WERROR=${KOVSEA_WERROR} -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${KOVSEA_WIN32_DIR} --target kovsea kovsea_stub kovsea_observer
  INSTALL_COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP -B ${CMAKE_BINARY_DIR}/packages
  BUILD_ALWAYS TRUE
  BUILD_BYPRODUCTS ${KOVSEA_WIN32_DIR}/bin/kovsea-stub.exe ${KOVSEA_WIN32_DIR}/bin/kovsea-observer.exe)
set(KOVSEA_STUB_FOR_INSTALL ${KOVSEA_WIN32_DIR}/bin/kovsea-stub.exe)
set(KOVSEA_OBSERVER_FOR_INSTALL ${KOVSEA_WIN32_DIR}/bin/kovsea-observer.exe)
