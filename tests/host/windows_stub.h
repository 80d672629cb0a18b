// The stub of the Windows build (KOVSEA_STUB, built by the win32 preset), which the host tests
// that sign, translate and rebuild real self-extractors pack with. The host build always names
// it, so such a test fails without it rather than skip: a suite that skipped them would pass
// while checking nothing of signatures, translations or the stub's resources.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>

namespace test {

inline ::testing::AssertionResult WindowsStubBuilt() {
  if (std::filesystem::is_regular_file(KOVSEA_STUB)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "the stub of the Windows build, " KOVSEA_STUB ", is missing: build the win32 preset first "
            "(cmake --preset win32 && cmake --build --preset win32), then run the host tests again";
}

}  // namespace test
