// halcyra-dcs-install on Saved Games folders as users have them: several DCS* folders, one without
// a Scripts folder, an Export.lua of another tool (Windows line breaks, no final one), a read-only
// Export.lua; and the real program finding the Saved Games folder by itself.
#include "export_installer.h"

#include <gtest/gtest.h>

#include <map>

#include "child_process.h"
#include "export_hook/export_hook.h"
#include "temp_dir.h"

namespace halcyra {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr char kOtherTool[] =
    "local tool = dofile(lfs.writedir()..[[Scripts\\Tool\\Tool.lua]])\r\n-- its end";

// Every file under a folder with its content, and every folder (content "<folder>").
std::map<fs::path, std::string> Snapshot(const fs::path& root) {
  std::map<fs::path, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    files[entry.path()] = entry.is_directory() ? "<folder>" : ReadFile(entry.path());
  }
  return files;
}

class ExportInstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : exporthook::kScriptFiles)
      WriteFile(source_ / name, std::string("-- ") + name + "\n");
    WriteFile(saved_ / "DCS" / "Scripts" / "Export.lua", kOtherTool);
    fs::create_directories(saved_ / "DCS.openbeta");         // no Scripts folder yet
    WriteFile(saved_ / "TeamSpeak" / "Export.lua", "keep");  // not a simulator folder
    WriteFile(saved_ / "DCS.notes.txt", "a file, not a folder");
  }
  void TearDown() override {
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path())) {
      std::error_code error;
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
    }
  }

  int Install() { return installer::InstallExportScript(saved_, source_, Output()); }
  int Remove() { return installer::RemoveExportScript(saved_, Output()); }
  installer::InstallerOutput Output() {
    return {[this](const std::string& line) { reports_.push_back(line); },
            [this](const std::string& line) { problems_.push_back(line); }};
  }

  TempDir dir_;
  fs::path saved_ = dir_ / "Saved Games";
  fs::path source_ = dir_ / "plugins" / "halcyra";
  std::vector<std::string> reports_;
  std::vector<std::string> problems_;
};

TEST_F(ExportInstallerTest, InstallsOnceIntoEveryFolderAndRemoveGivesBackEveryByte) {
  std::map<fs::path, std::string> before = Snapshot(saved_);
  ASSERT_EQ(0, Install()) << ::testing::PrintToString(problems_);
  ASSERT_EQ(3u, reports_.size());
  EXPECT_EQ("DCS: installed (the former Export.lua kept as Export.lua.halcyra-backup)", reports_[0]);
  EXPECT_EQ(0u, reports_[1].find("DCS.openbeta: installed (Scripts")) << reports_[1];

  fs::path scripts = saved_ / "DCS" / "Scripts";
  EXPECT_EQ(std::string(kOtherTool) + "\r\n" + exporthook::kHookLine, ReadFile(scripts / "Export.lua"));
  EXPECT_EQ(kOtherTool, ReadFile(scripts / "Export.lua.halcyra-backup"));
  EXPECT_EQ(std::string(exporthook::kHookLine) + "\n",
            ReadFile(saved_ / "DCS.openbeta" / "Scripts" / "Export.lua"));
  for (const char* folder : {"DCS", "DCS.openbeta"}) {
    for (const char* name : exporthook::kScriptFiles) {
      EXPECT_EQ(ReadFile(source_ / name), ReadFile(saved_ / folder / "Scripts" / "Halcyra" / name))
          << folder << name;
    }
  }
  EXPECT_EQ("keep", ReadFile(saved_ / "TeamSpeak" / "Export.lua"));

  // The second run adds nothing; the user's settings, written by the script meanwhile, stay.
  WriteFile(scripts / "Halcyra" / exporthook::kSettingsFile, "send_rate = 8\n");
  std::map<fs::path, std::string> installed = Snapshot(saved_);
  reports_.clear();
  ASSERT_EQ(0, Install());
  EXPECT_EQ(installed, Snapshot(saved_));
  EXPECT_EQ("DCS: already installed; script files brought up to date", reports_[0]);

  reports_.clear();
  ASSERT_EQ(0, Remove()) << ::testing::PrintToString(problems_);
  EXPECT_EQ("DCS: removed", reports_[0]);
  EXPECT_EQ(kOtherTool, ReadFile(scripts / "Export.lua"));
  EXPECT_FALSE(fs::exists(saved_ / "DCS.openbeta" / "Scripts" / "Export.lua"))
      << "the installer had created it";
  EXPECT_EQ("send_rate = 8\n", ReadFile(scripts / "Halcyra" / exporthook::kSettingsFile));
  fs::remove_all(scripts / "Halcyra");
  fs::remove(scripts / "Export.lua.halcyra-backup");
  fs::remove(saved_ / "DCS.openbeta" / "Scripts");
  EXPECT_EQ(before, Snapshot(saved_));

  reports_.clear();
  ASSERT_EQ(0, Remove());
  EXPECT_EQ("DCS: not installed, nothing to remove", reports_[0]);
}

TEST_F(ExportInstallerTest, ReadOnlyExportLuaOrNoSimulatorFolderChangesNothing) {
  fs::path readOnly = saved_ / "DCS" / "Scripts" / "Export.lua";
  fs::permissions(readOnly, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  std::map<fs::path, std::string> before = Snapshot(saved_);
  EXPECT_EQ(1, Install());
  EXPECT_EQ(before, Snapshot(saved_));
  ASSERT_EQ(2u, problems_.size());
  EXPECT_NE(std::string::npos, problems_[0].find("Export.lua: read-only")) << problems_[0];
  EXPECT_EQ("nothing was changed", problems_[1]);

  // Installed while writable, then made read-only: removing changes nothing either.
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::add);
  ASSERT_EQ(0, Install());
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::remove);
  before = Snapshot(saved_);
  problems_.clear();
  EXPECT_EQ(1, Remove());
  EXPECT_EQ(before, Snapshot(saved_));
  EXPECT_EQ("nothing was changed", problems_.back());

  problems_.clear();
  EXPECT_EQ(1, installer::InstallExportScript(dir_ / "empty", source_, Output()));
  ASSERT_EQ(1u, problems_.size());
  EXPECT_NE(std::string::npos, problems_[0].find("no DCS* folder in ")) << problems_[0];
}

// The program with the script files taken from its own folder (the build copies them beside it).
// (Without --saved-games it finds the folder as the plug-in does, which the Linux chain test uses;
// here the folder is named, since on Windows the lookup reads a registry that tests running at the
// same time would share.)
TEST_F(ExportInstallerTest, ProgramInstallsTheScriptFilesBesideIt) {
  testing::ChildProcess program(HALCYRA_INSTALLER_PATH, {"--saved-games", saved_.string()});
  ASSERT_TRUE(program.started()) << HALCYRA_INSTALLER_PATH;
  std::optional<std::string> line = program.ReadLine(20000);
  ASSERT_TRUE(line);
  EXPECT_EQ("DCS: installed (the former Export.lua kept as Export.lua.halcyra-backup)", *line);
  EXPECT_EQ(0, program.WaitForExit(20000));
  EXPECT_TRUE(exporthook::HookInstalled(saved_ / "DCS"));
  EXPECT_TRUE(exporthook::AnyHookInstalled(saved_));
}

}  // namespace
}  // namespace halcyra
