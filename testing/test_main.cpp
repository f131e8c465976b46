#include <gtest/gtest.h>

// The test programs are console programs with a wide entry, like the setup program.
int wmain(int argc, wchar_t** argv) {
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
