// The in-memory settings store the toolkit controls are tested with.
#include <gtest/gtest.h>

#include "console/logic/toolkit/ToolkitSettings.h"

TEST(MemorySettingsStoreTest, IntsAndBlobsBySectionAndEntry) {
  MemorySettingsStore s;
  EXPECT_EQ(s.GetInt("a", "x", 42), 42);
  EXPECT_FALSE(s.GetBinary("a", "x"));
  s.SetInt("a", "x", 7);
  s.SetBinary("a", "y", {1, 2, 3});
  s.SetBinary("b", "x", {});
  EXPECT_EQ(s.GetInt("a", "x", 0), 7);
  EXPECT_EQ(s.GetInt("b", "x", -1), -1);
  EXPECT_EQ(s.GetBinary("a", "y"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(s.GetBinary("b", "x"), std::vector<uint8_t>{});  // written, empty
  EXPECT_TRUE(s.Has("b", "x"));
  EXPECT_FALSE(s.Has("c", "x"));
}
