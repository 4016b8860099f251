// The registry paths of the real Win32 Env, against values written into the test prefix's HKCU.
#include <gtest/gtest.h>

#include "host_folders.h"
#include "platform/env.h"

namespace halcyra::platform {
namespace {

TEST(Registry, SavedGamesFolderComesFromTheShellFolderValue) {
  {
    testing::ScopedSavedGames savedGames("C:\\Users\\pilot\\Saved Games");
    std::wstring folder;
    ASSERT_TRUE(Env::Default().SavedGamesFolder(&folder));
    EXPECT_EQ(L"C:\\Users\\pilot\\Saved Games", folder);
  }
  {
    testing::ScopedSavedGames missing("");
    std::wstring folder;
    EXPECT_FALSE(Env::Default().SavedGamesFolder(&folder));
  }
}

TEST(Registry, InstallFolderFromUserKeyAndMissingValues) {
  {
    testing::ScopedInstallDir install("D:\\Halcyra");
    std::wstring folder;
    EXPECT_EQ(RegistryResult::kOk, Env::Default().InstallFolder(RegistryRoot::kCurrentUser, &folder));
    EXPECT_EQ(L"D:\\Halcyra", folder);
  }
  {
    testing::ScopedInstallDir missing("");  // the key exists, the value does not
    std::wstring folder;
    EXPECT_EQ(RegistryResult::kValueMissing,
              Env::Default().InstallFolder(RegistryRoot::kCurrentUser, &folder));
  }
  std::wstring folder;
  EXPECT_EQ(RegistryResult::kKeyMissing, Env::Default().InstallFolder(RegistryRoot::kLocalMachine, &folder));
}

}  // namespace
}  // namespace halcyra::platform
