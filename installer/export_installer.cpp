#include "export_installer.h"

#include <fstream>
#include <optional>
#include <system_error>

#include "export_hook/export_hook.h"
#include "platform/env.h"
#include "platform/files.h"

namespace halcyra::installer {
namespace {

namespace fs = std::filesystem;
using platform::PathText;

// The changes of one run, so that a failure part-way puts every file back as it was.
class Journal {
 public:
  // Replaces the file's content (creating its folders); false with the reason on failure.
  bool Write(const fs::path& file, const std::string& content, std::string* reason) {
    if (!Remember(file, reason) || !CreateFolders(file.parent_path(), reason)) return false;
    return WriteReplacing(file, content, reason);
  }

  bool Delete(const fs::path& file, std::string* reason) {
    if (!Remember(file, reason)) return false;
    std::error_code error;
    if (!fs::remove(file, error) && error) {
      *reason = error.message();
      return false;
    }
    return true;
  }

  // Puts back every file as it was before its first change, newest change first.
  void Undo() {
    std::string ignored;
    for (auto entry = saved_.rbegin(); entry != saved_.rend(); ++entry) {
      std::error_code error;
      if (entry->second) {
        WriteReplacing(entry->first, *entry->second, &ignored);
      } else {
        fs::remove(entry->first, error);
      }
    }
    for (auto folder = createdFolders_.rbegin(); folder != createdFolders_.rend(); ++folder) {
      std::error_code error;
      fs::remove(*folder, error);  // only when empty
    }
  }

 private:
  bool Remember(const fs::path& file, std::string* reason) {
    for (const auto& entry : saved_) {
      if (entry.first == file) return true;
    }
    std::error_code error;
    if (!fs::exists(file, error)) {
      saved_.emplace_back(file, std::nullopt);
      return true;
    }
    std::string content;
    if (!exporthook::ReadWholeFile(file, &content)) {
      *reason = "cannot be read";
      return false;
    }
    saved_.emplace_back(file, content);
    return true;
  }

  bool CreateFolders(const fs::path& folder, std::string* reason) {
    std::vector<fs::path> missing;
    std::error_code error;
    for (fs::path step = folder; !step.empty() && !fs::exists(step, error); step = step.parent_path()) {
      missing.push_back(step);
      if (step == step.parent_path()) break;
    }
    for (auto step = missing.rbegin(); step != missing.rend(); ++step) {
      if (!fs::create_directory(*step, error) && error) {
        *reason = "cannot create " + PathText(*step) + ": " + error.message();
        return false;
      }
      createdFolders_.push_back(*step);
    }
    return true;
  }

  // Writes beside the file, then renames over it: the file is never left half written.
  static bool WriteReplacing(const fs::path& file, const std::string& content, std::string* reason) {
    fs::path fresh = file;
    fresh += ".halcyra-new";
    {
      std::ofstream stream(fresh, std::ios::binary | std::ios::trunc);
      stream.write(content.data(), static_cast<std::streamsize>(content.size()));
      stream.close();
      if (!stream) {
        std::error_code error;
        fs::remove(fresh, error);
        *reason = "cannot be written";
        return false;
      }
    }
    std::error_code error;
    fs::rename(fresh, file, error);
    if (error) {
      fs::remove(fresh, error);
      *reason = "cannot be replaced: " + error.message();
      return false;
    }
    return true;
  }

  std::vector<std::pair<fs::path, std::optional<std::string>>> saved_;
  std::vector<fs::path> createdFolders_;
};

std::string FolderName(const fs::path& folder) { return PathText(folder.filename()); }

// A file that will be rewritten or deleted must allow it; its problem is added to problems.
void CheckRewritable(const fs::path& file, std::vector<std::string>* problems) {
  std::error_code error;
  std::string reason;
  if (fs::exists(file, error) && !platform::CanRewriteFile(file, &reason)) {
    problems->push_back(PathText(file) + ": " + reason);
  }
}

std::vector<fs::path> SimulatorFolders(const fs::path& savedGames, const InstallerOutput& output) {
  std::vector<fs::path> folders = exporthook::FindSimulatorFolders(savedGames);
  if (folders.empty()) {
    output.problem("no DCS* folder in " + PathText(savedGames) +
                   ": start DCS World once so that it makes its folder there, or name the Saved Games folder "
                   "with --saved-games");
  }
  return folders;
}

int Refuse(const std::vector<std::string>& problems, const InstallerOutput& output) {
  for (const std::string& problem : problems) output.problem(problem);
  output.problem("nothing was changed");
  return 1;
}

int Fail(Journal& journal, const fs::path& file, const std::string& reason, const InstallerOutput& output) {
  journal.Undo();
  output.problem(PathText(file) + ": " + reason);
  output.problem("nothing was changed");
  return 1;
}

}  // namespace

ParsedInstallerOptions ParseInstallerOptions(const std::vector<std::string>& arguments) {
  ParsedInstallerOptions parsed;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    auto value = [&](fs::path* target) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        parsed.error = argument + " needs a folder";
        return;
      }
      *target = platform::PathFromWide(platform::Utf8ToWide(arguments[++i]));
    };
    if (argument == "--help" || argument == "-h") {
      parsed.options.help = true;
    } else if (argument == "--remove") {
      parsed.options.remove = true;
    } else if (argument == "--saved-games") {
      value(&parsed.options.savedGames);
    } else if (argument == "--from") {
      value(&parsed.options.scriptSource);
    } else {
      parsed.error = "unknown argument " + argument;
    }
    if (!parsed.error.empty()) break;
  }
  return parsed;
}

std::string InstallerUsage() {
  return "Usage: halcyra-dcs-install [--remove] [--saved-games FOLDER] [--from FOLDER]\n"
         "\n"
         "Installs Halcyra's export script for DCS World in every DCS* folder of your Saved Games\n"
         "folder (DCS, DCS.openbeta, ...): the script files go to Scripts\\Halcyra\\, and one line that\n"
         "loads them is added to the end of Scripts\\Export.lua (created when missing; a copy of the\n"
         "file as it was is kept as Export.lua.halcyra-backup). Running it again only brings the script\n"
         "files up to date. Your settings, Scripts\\Halcyra\\HalcyraConfig.lua, are never touched.\n"
         "\n"
         "  --remove              take the line and the script files out again\n"
         "  --saved-games FOLDER  the Saved Games folder (default: yours; on Linux $HALCYRA_SAVED_GAMES)\n"
         "  --from FOLDER         where the script files are (default: this program's folder)\n"
         "  --help                this text\n"
         "\n"
         "A file that is read-only or in use is reported and nothing is changed.\n";
}

int InstallExportScript(const fs::path& savedGames, const fs::path& scriptSource,
                        const InstallerOutput& output) {
  std::vector<fs::path> folders = SimulatorFolders(savedGames, output);
  if (folders.empty()) return 1;

  std::vector<std::pair<std::string, std::string>> scriptFiles;
  for (const char* name : exporthook::kScriptFiles) {
    std::string content;
    if (!exporthook::ReadWholeFile(scriptSource / name, &content)) {
      output.problem(PathText(scriptSource / name) +
                     " is missing: run the installer from the plug-in's halcyra "
                     "folder, or name the folder of the script files with --from");
      return 1;
    }
    scriptFiles.emplace_back(name, content);
  }

  struct Plan {
    fs::path folder;
    std::optional<std::string> exportLua;  // the current text; none when the file is missing
    bool addLine = false;
  };
  std::vector<Plan> plans;
  std::vector<std::string> problems;
  for (const fs::path& folder : folders) {
    Plan plan{folder, std::nullopt, false};
    fs::path exportLua = exporthook::ExportLuaPath(folder);
    std::error_code error;
    if (fs::exists(exportLua, error)) {
      std::string text;
      if (!exporthook::ReadWholeFile(exportLua, &text)) {
        problems.push_back(PathText(exportLua) + ": cannot be read");
        continue;
      }
      plan.exportLua = text;
    }
    plan.addLine = !plan.exportLua || !exporthook::HoldsHook(*plan.exportLua);
    if (plan.addLine) {
      CheckRewritable(exportLua, &problems);
      CheckRewritable(exportLua.parent_path() / kBackupName, &problems);
    }
    for (const auto& [name, content] : scriptFiles)
      CheckRewritable(exporthook::ScriptFolder(folder) / name, &problems);
    plans.push_back(plan);
  }
  if (!problems.empty()) return Refuse(problems, output);

  Journal journal;
  std::vector<std::string> done;
  for (const Plan& plan : plans) {
    std::string reason;
    for (const auto& [name, content] : scriptFiles) {
      fs::path target = exporthook::ScriptFolder(plan.folder) / name;
      if (!journal.Write(target, content, &reason)) return Fail(journal, target, reason, output);
    }
    fs::path exportLua = exporthook::ExportLuaPath(plan.folder);
    std::string what;
    if (!plan.addLine) {
      what = "already installed; script files brought up to date";
    } else {
      if (plan.exportLua) {
        fs::path backup = exportLua.parent_path() / kBackupName;
        if (!journal.Write(backup, *plan.exportLua, &reason)) return Fail(journal, backup, reason, output);
      }
      if (!journal.Write(exportLua, exporthook::AddHookLine(plan.exportLua.value_or("")), &reason)) {
        return Fail(journal, exportLua, reason, output);
      }
      what = plan.exportLua
                 ? std::string("installed (the former Export.lua kept as ") + kBackupName + ")"
                 : std::string("installed (Scripts") + platform::PathSeparator() + "Export.lua created)";
    }
    done.push_back(FolderName(plan.folder) + ": " + what);
  }
  for (const std::string& line : done) output.report(line);
  output.report(
      "Start DCS World and fly: the Halcyra plug-in's log shows the positions it receives (LOGLEVEL=6).");
  return 0;
}

int RemoveExportScript(const fs::path& savedGames, const InstallerOutput& output) {
  std::vector<fs::path> folders = SimulatorFolders(savedGames, output);
  if (folders.empty()) return 1;

  std::vector<std::string> problems;
  std::vector<std::pair<fs::path, std::string>> exportTexts;  // files that hold the line, with their text
  for (const fs::path& folder : folders) {
    fs::path exportLua = exporthook::ExportLuaPath(folder);
    std::string text;
    std::error_code error;
    if (fs::exists(exportLua, error) && exporthook::ReadWholeFile(exportLua, &text) &&
        exporthook::HoldsHook(text)) {
      CheckRewritable(exportLua, &problems);
      exportTexts.emplace_back(exportLua, text);
    }
    for (const char* name : exporthook::kScriptFiles)
      CheckRewritable(exporthook::ScriptFolder(folder) / name, &problems);
  }
  if (!problems.empty()) return Refuse(problems, output);

  Journal journal;
  std::vector<std::string> done;
  for (const fs::path& folder : folders) {
    std::string reason;
    bool removed = false;
    for (const auto& [exportLua, text] : exportTexts) {
      if (exportLua != exporthook::ExportLuaPath(folder)) continue;
      std::string rest = exporthook::RemoveHookLines(text);
      std::error_code error;
      // Export.lua that the installer created (no backup of it) goes again when nothing else is in it.
      bool created = rest.empty() && !fs::exists(exportLua.parent_path() / kBackupName, error);
      bool ok = created ? journal.Delete(exportLua, &reason) : journal.Write(exportLua, rest, &reason);
      if (!ok) return Fail(journal, exportLua, reason, output);
      removed = true;
    }
    for (const char* name : exporthook::kScriptFiles) {
      fs::path file = exporthook::ScriptFolder(folder) / name;
      std::error_code error;
      if (!fs::exists(file, error)) continue;
      if (!journal.Delete(file, &reason)) return Fail(journal, file, reason, output);
      removed = true;
    }
    done.push_back(FolderName(folder) + (removed ? ": removed" : ": not installed, nothing to remove"));
  }
  for (const fs::path& folder : folders) {
    std::error_code error;
    fs::remove(exporthook::ScriptFolder(folder), error);  // only when empty: the user's settings stay
  }
  for (const std::string& line : done) output.report(line);
  return 0;
}

}  // namespace halcyra::installer
