// The owners of C handles that both filters use: the guard of a temporary path.
#include "common/handles.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "support/paths.h"

namespace {

TEST(TempPathGuard, RemovesWhatItHoldsUnlessReleased) {
  TempDir dir;
  std::string first = dir.file("first"), second = dir.file("second");
  ASSERT_TRUE(write_file(first, "1"));
  ASSERT_TRUE(write_file(second, "2"));
  {
    // The path is copied: the caller's buffer may change after the guard took it.
    char buffer[64];
    snprintf(buffer, sizeof(buffer), "%s", first.c_str());
    TempPathGuard guard(buffer);
    snprintf(buffer, sizeof(buffer), "%s", second.c_str());
    EXPECT_EQ(std::string(guard.path()), first);
    guard.reset(buffer);
    EXPECT_FALSE(path_exists(first));
    EXPECT_TRUE(path_exists(second));
  }
  EXPECT_FALSE(path_exists(second));
  ASSERT_TRUE(write_file(first, "1"));
  {
    TempPathGuard guard(first.c_str());
    guard.release();
    EXPECT_TRUE(guard.empty());
  }
  EXPECT_TRUE(path_exists(first));
}

}  // namespace
