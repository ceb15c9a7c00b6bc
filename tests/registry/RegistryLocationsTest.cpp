#include "scan/RegistryLocations.h"

#include <gtest/gtest.h>

namespace korbu {
namespace {

constexpr std::string_view kLocation = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\w";

TEST(RegistryLocations, RootKeyNamesAndHandles) {
  EXPECT_EQ(RootKeyName(HKEY_CLASSES_ROOT), "HKEY_CLASSES_ROOT");
  EXPECT_EQ(RootKeyName(HKEY_LOCAL_MACHINE), "HKEY_LOCAL_MACHINE");
  EXPECT_EQ(RootKeyName(HKEY_DYN_DATA), "HKEY_DYN_DATA");
  EXPECT_EQ(RootKeyName(0x80000007u), "");
  EXPECT_EQ(RootKeyName(0), "");
  EXPECT_EQ(RootKeyName(0x7FFFFFFFu), "");

  EXPECT_EQ(RootKeyFromName("hkey_current_user"), 0x80000001u);
  EXPECT_EQ(RootKeyFromName("HKEY_DYN_DATA"), 0x80000006u);
  EXPECT_EQ(RootKeyFromName("HKEY_CURRENT"), 0u);
  EXPECT_EQ(RootKeyFromName("HKCU"), 0u);
  EXPECT_EQ(RootKeyFromName(""), 0u);
  for (std::uint32_t handle = 0x80000000u; handle <= 0x80000006u; ++handle)
    EXPECT_EQ(RootKeyFromName(RootKeyName(handle)), handle);
}

TEST(RegistryLocations, TellsRegistryLocationsFromFilePaths) {
  EXPECT_TRUE(IsRegistryPath(kLocation));
  EXPECT_TRUE(IsRegistryPath("HKEY_CURRENT_USER\\x\\"));
  EXPECT_TRUE(IsRegistryPath("HKEY"));
  EXPECT_FALSE(IsRegistryPath("hkey_local_machine\\software\\run\\w"));
  EXPECT_FALSE(IsRegistryPath("C:\\HKEY_X\\file.exe"));
  EXPECT_FALSE(IsRegistryPath("/home/user/HKEY_file"));
  EXPECT_FALSE(IsRegistryPath("HKEYS_X"));
  EXPECT_FALSE(IsRegistryPath(""));
}

TEST(RegistryLocations, SplitsAtTheFirstBackslash) {
  auto split = SplitRegistryLocation(kLocation);
  ASSERT_TRUE(split);
  EXPECT_EQ(split->root, HKEY_LOCAL_MACHINE);
  EXPECT_EQ(split->valuePath, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\w");
  EXPECT_EQ(MakeRegistryLocation(split->root, split->valuePath), kLocation);

  split = SplitRegistryLocation("hkey_current_user\\Run\\");
  ASSERT_TRUE(split);
  EXPECT_EQ(split->root, HKEY_CURRENT_USER);
  EXPECT_EQ(split->valuePath, "Run\\");
  EXPECT_FALSE(SplitRegistryLocation("HKEY_LOCAL_MACHINE"));
  EXPECT_FALSE(SplitRegistryLocation("HKEY_NOWHERE\\a\\b"));
  EXPECT_FALSE(SplitRegistryLocation("C:\\windows\\x.exe"));
}

}  // namespace
}  // namespace korbu
