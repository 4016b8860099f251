#include "foundation/configuration.h"

#include <cstdio>
#include <cwctype>

#include "foundation/format.h"
#include "foundation/ini_keys.h"
#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/ini_writer.h"
#include "platform/ipv4.h"

namespace halcyra {
namespace {

constexpr char kTag[] = "ReadIniFile";
constexpr char kUpdateTag[] = "UpdatePluginInfo";
constexpr size_t kTileFolderCapacity = 260;  // characters, terminator included
constexpr char kLoopback[] = "127.0.0.1";
constexpr const wchar_t* kSelectorKeys[] = {L"RADIO1", L"RADIO2", L"RADIO3"};  // [SELECTOR] of radio 1..3

constexpr wchar_t kResolveCaption[] = L"Halcyra TS plugin : IP Address Error";
constexpr wchar_t kNoTilesText[] = L"No path for relief database is found. Mask of relief will not work !";

// The caption of the missing-tiles warning names our own library file.
std::wstring NoTilesCaption() { return L"TeamSpeak3 : " + platform::Utf8ToWide(platform::PluginFileName()); }

std::wstring Separator() { return std::wstring(1, static_cast<wchar_t>(platform::PathSeparator())); }

std::wstring JoinPath(const std::wstring& folder, const wchar_t* name) { return folder + Separator() + name; }

bool EqualsNoCase(const std::string& text, const char* word) {
  size_t i = 0;
  for (; i < text.size() && word[i] != '\0'; ++i) {
    if (std::towlower(static_cast<unsigned char>(text[i])) !=
        std::towlower(static_cast<unsigned char>(word[i])))
      return false;
  }
  return i == text.size() && word[i] == '\0';
}

const IniKey& KeyOf(const wchar_t* section, const wchar_t* key) {
  for (const IniKey& known : IniKeys()) {
    if (std::wstring(known.section) == section && std::wstring(known.key) == key) return known;
  }
  static const IniKey kNone{L"", L"", L"", "", ""};
  return kNone;
}

std::string KeyName(const wchar_t* section, const wchar_t* key) {
  return "[" + platform::WideToUtf8(section) + "] " + platform::WideToUtf8(key);
}

// "device button" with a joystick id 0..31 and a button 1..32, or "-1 -1" for none.
bool ScanBinding(const std::wstring& value, int* device, int* button) {
  std::wstring text = value;
  size_t blank = text.find_first_of(L" \t");
  if (blank == std::wstring::npos) return false;
  std::optional<int> first = ParseWholeNumber(text.substr(0, blank));
  std::optional<int> second = ParseWholeNumber(text.substr(blank + 1));
  if (!first || !second) return false;
  bool unbound = *first == -1 && *second == -1;
  bool bound = *first >= 0 && *first <= 31 && *second >= 1 && *second <= 32;
  if (!unbound && !bound) return false;
  *device = *first;
  *button = *second;
  return true;
}

}  // namespace

Configuration::Configuration(platform::Env& env, Clog& log, Settings& settings, SimulatorStatus& simulator)
    : env_(env), log_(log), settings_(settings), simulator_(simulator), nameLookup_(env) {}

std::wstring Configuration::ReadValue(const wchar_t* section, const wchar_t* key) {
  return WithoutInlineComment(
      env_.ReadIniString(settings_.iniPath, section, key, KeyOf(section, key).defaultValue));
}

int Configuration::ReadNumber(const wchar_t* section, const wchar_t* key, int low, int high,
                              const char* what) {
  std::wstring value = ReadValue(section, key);
  std::optional<int> number = ParseWholeNumber(value);
  if (number && *number >= low && *number <= high) return *number;
  std::wstring fallback = KeyOf(section, key).defaultValue;
  Report(KeyName(section, key) + "=" + platform::WideToUtf8(value) + " is not " + what + ": using " +
         platform::WideToUtf8(fallback));
  return ParseWholeNumber(fallback).value_or(0);
}

void Configuration::Report(const std::string& line) {
  bool newInPass = problemsOfPass_.insert(line).second;
  if (!newInPass || problemsBefore_.count(line) != 0) return;
  if (log_.IsSetUp()) {
    log_.Write(kTag, line, 0);
  } else {
    unlogged_.push_back(line);  // written as soon as the log is set up
  }
}

// The first start makes the folder and a settings file with every key, so that a pilot finds the
// file to edit and the log from the start on; a file that exists is left as it is.
void Configuration::PrepareFolder(const std::wstring& folder) {
  std::string problem;
  if (!platform::MakeFolders(platform::PathFromWide(folder), &problem)) return;  // no log can say it
  switch (platform::WriteNewFile(platform::PathFromWide(settings_.iniPath), DefaultIniText(), &problem)) {
    case platform::NewFileResult::kWritten:
      Report("Wrote the default settings to " + platform::WideToUtf8(settings_.iniPath) +
             ": edit them there (the station server is [HCS] HOST)");
      break;
    case platform::NewFileResult::kFailed:
      Report("Cannot write " + platform::WideToUtf8(settings_.iniPath) + " (" + problem +
             "): the defaults are used");
      break;
    case platform::NewFileResult::kExists:
      break;
  }
}

int Configuration::ReadIniFile() {
  simulator_.alive = 1;
  std::wstring savedGames;
  if (!env_.SavedGamesFolder(&savedGames)) return 0;

  BeginPass();
  std::wstring folder = JoinPath(savedGames, L"Halcyra");
  folderText_ = folder;
  settings_.iniPath = JoinPath(folder, L"Halcyra.ini");
  PrepareFolder(folder);
  settings_.logLevel = ReadNumber(L"LOG", L"LOGLEVEL", 0, 6, "a level from 0 to 6");
  log_.Init(JoinPath(folder, L"Halcyra.log"), settings_.logLevel);
  if (log_.IsSetUp()) {
    for (const std::string& line : unlogged_) log_.Write(kTag, line, 0);
  }
  unlogged_.clear();
  ReportUnknownEntries();

  log_.Write(kTag, "Read HGT parameters", 3);
  std::wstring tileFolder = FindTileFolder();
  log_.Write(kTag, "HGT Files path : " + platform::WideToUtf8(tileFolder), 0);

  settings_.hgtPath =
      tileFolder.size() < kTileFolderCapacity ? platform::WideToUtf8(tileFolder) : std::string();
  if (tiles_) tiles_->SetTileFolder(settings_.hgtPath);

  ReadReloadable(platform::StopToken());  // the start: never stopped
  if (selectors_) selectors_->ShowRadioSelectors();

  ServerEndpoint server = settings_.Server();
  log_.Write(kTag, Format("Halcyra Server : %s:%d", server.address.c_str(), server.port), 0);
  ReadSimulatorListenAddress();
  EndPass();
  return 1;
}

void Configuration::ReportUnknownEntries() {
  std::FILE* file = env_.OpenFile(settings_.iniPath, "rb");
  if (file == nullptr) return;
  std::string text;
  char buffer[4096];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
  std::fclose(file);
  for (const std::string& line : UnknownIniEntries(text)) Report(line);
}

// Only a simulator on this computer may command the aircraft unless the user opens the port to
// other computers; a value that is no address keeps it closed.
void Configuration::ReadSimulatorListenAddress() {
  std::string text = platform::WideToUtf8(ReadValue(L"DCS", L"LISTEN"));
  uint32_t address = 0;
  if (!ParseDottedIPv4(text, &address)) {
    log_.Write(kTag,
               Format("DCS Listen : \"%s\" is not a dotted IPv4 address, using 127.0.0.1", text.c_str()), 0);
    address = 0x7F000001;
  }
  settings_.simulatorListenAddress = address;
  log_.Write(kTag,
             Format("DCS Listen : %s:%d%s", FormatDottedIPv4(address).c_str(), kSimulatorPort,
                    address == 0 ? " (every address)" : ""),
             0);
}

// [HGT] Path, else the installer's folder, else halcyra/HGT beside the plug-in. A folder the user or
// the installer named must exist (the warning box says so when it does not); the one beside the
// plug-in is made when it is missing. An empty result means no tiles at all, never the root folder.
std::wstring Configuration::FindTileFolder() {
  std::wstring folder = ReadValue(L"HGT", L"Path");
  if (!folder.empty()) return ConfiguredTileFolder(folder, "[HGT] Path");
  std::wstring installFolder;
  if (ReadInstallFolder(platform::RegistryRoot::kLocalMachine, "! Can not read HGT path in Registry HKLM",
                        &installFolder) ||
      ReadInstallFolder(platform::RegistryRoot::kCurrentUser, "! Can not read HGT path in Registry HKCU",
                        &installFolder)) {
    return ConfiguredTileFolder(JoinPath(installFolder, L"HGT"), "the installer's folder");
  }
  return DefaultTileFolder();
}

std::wstring Configuration::ConfiguredTileFolder(const std::wstring& folder, const char* origin) {
  if (!platform::FolderExists(platform::PathFromWide(folder))) {
    log_.Write(kTag,
               "The elevation tile folder " + platform::WideToUtf8(folder) + " (" + origin +
                   ") does not exist: terrain is not masked",
               0);
    ShowBox(NoTilesCaption(), kNoTilesText, platform::MessageIcon::kWarning);
  }
  return folder;
}

std::wstring Configuration::DefaultTileFolder() {
  std::wstring moduleFolder;
  if (!env_.ModuleFolder(&moduleFolder) || moduleFolder.empty()) {
    log_.Write(kTag, "The plug-in's own folder is unknown: no elevation tile folder, terrain is not masked",
               0);
    return std::wstring();
  }
  std::wstring folder = JoinPath(JoinPath(moduleFolder, L"halcyra"), L"HGT");
  std::string problem;
  if (!platform::MakeFolders(platform::PathFromWide(folder), &problem)) {
    log_.Write(kTag,
               "Cannot make the elevation tile folder " + platform::WideToUtf8(folder) + " (" + problem + ")",
               0);
  }
  return folder;
}

bool Configuration::ReadInstallFolder(platform::RegistryRoot root, const char* failureMessage,
                                      std::wstring* folder) {
  switch (env_.InstallFolder(root, folder)) {
    case platform::RegistryResult::kOk:
      return true;
    case platform::RegistryResult::kValueMissing:
      log_.Write(kTag, failureMessage, 0);
      return false;
    case platform::RegistryResult::kKeyMissing:
      return false;
  }
  return false;
}

void Configuration::ReadSelectors() {
  platform::MutexLock lock(storeLock_);
  bool pushToTalk =
      ReadNumber(L"SELECTOR", L"PTT", 0, 1, "0 (the buttons only select) or 1 (push-to-talk)") == 1;
  if (selectors_) selectors_->SetPushToTalk(pushToTalk);
  for (int radio = 0; radio < 3; ++radio) {
    std::wstring value = ReadValue(L"SELECTOR", kSelectorKeys[radio]);
    int device = -1;
    int button = -1;
    if (!ScanBinding(value, &device, &button)) {
      Report(KeyName(L"SELECTOR", kSelectorKeys[radio]) + "=" + platform::WideToUtf8(value) +
             " is not a joystick id (0 to 31) and a button (1 to 32): using -1 -1 (none)");
      device = -1;
      button = -1;
    }
    if (selectors_) selectors_->SetRadioSelector(radio, device, button);
  }
}

void Configuration::UpdatePluginInfo(const platform::StopToken& stop) {
  BeginPass();
  ReportUnknownEntries();
  ReadReloadable(stop);
  EndPass();
}

void Configuration::ReadReloadable(const platform::StopToken& stop) {
  ReadSelectors();

  constexpr char kEar[] = "-1 (left), 0 (both) or 1 (right)";
  settings_.ear1 = ReadNumber(L"EAR", L"RADIO1", -1, 1, kEar);
  settings_.ear2 = ReadNumber(L"EAR", L"RADIO2", -1, 1, kEar);
  settings_.ear3 = ReadNumber(L"EAR", L"RADIO3", -1, 1, kEar);
  if (log_.Detailed()) {
    log_.Write(kUpdateTag,
               Format("Listening ears : #1=%d / #2=%d / #3=%d", settings_.ear1.load(), settings_.ear2.load(),
                      settings_.ear3.load()),
               5);
  }

  std::string host = platform::WideToUtf8(ReadValue(L"HCS", L"HOST"));
  if (host.empty()) {
    Report("[HCS] HOST is empty: using 127.0.0.1");
    host = kLoopback;
  }
  ServerEndpoint server;
  server.port = ReadNumber(L"HCS", L"UDP", 1, 65535, "a port from 1 to 65535");
  serverPort_ = server.port;
  server.address = ServerAddressOf(host, stop);
  settings_.SetServer(server);
  if (log_.Detailed()) {
    log_.Write(kUpdateTag,
               Format("Halcyra Server : (%s) %s:%d", host.c_str(), server.address.c_str(), server.port), 0);
  }

  {
    platform::MutexLock lock(storeLock_);
    settings_.attenuation = ReadNumber(L"SYSTEM", L"ATTN", 0, 1, "0 (off) or 1 (on)");
  }
  if (log_.Detailed()) {
    log_.Write(kUpdateTag, settings_.attenuation.load() == 1 ? "Attenuation is ON" : "Attenuation is OFF", 5);
  }
}

bool Configuration::WriteValue(const char* section, const char* key, const std::string& value,
                               std::string* problem) {
  std::string reason;
  if (settings_.iniPath.empty()) {
    reason = "no settings file";
  } else if (platform::WriteIniValue(platform::PathFromWide(settings_.iniPath), section, key, value,
                                     &reason)) {
    log_.Write(kUpdateTag,
               Format("[%s] %s=%s written to %s", section, key, value.c_str(),
                      platform::WideToUtf8(settings_.iniPath).c_str()),
               0);
    return true;
  }
  *problem = "cannot write [" + std::string(section) + "] " + key + "=" + value + " to " +
             platform::WideToUtf8(settings_.iniPath) + " (" + reason + ")";
  log_.Write(kUpdateTag, *problem, 0);
  return false;
}

bool Configuration::StoreAttenuation(int attenuation, std::string* problem) {
  platform::MutexLock lock(storeLock_);
  if (!WriteValue("SYSTEM", "ATTN", std::to_string(attenuation), problem)) return false;
  settings_.attenuation = attenuation;
  return true;
}

bool Configuration::StoreRadioSelector(int radioIndex, int device, int button, std::string* problem) {
  if (radioIndex < 0 || radioIndex > 2) {
    *problem = Format("there is no radio %d", radioIndex + 1);
    return false;
  }
  platform::MutexLock lock(storeLock_);
  std::string key = platform::WideToUtf8(kSelectorKeys[radioIndex]);
  if (!WriteValue("SELECTOR", key.c_str(), Format("%d %d", device, button), problem)) return false;
  if (selectors_) selectors_->SetRadioSelector(radioIndex, device, button);
  return true;
}

// The address of the station server for the HOST text: "teamspeak" stands for the host of the
// TeamSpeak server (asked for again now, else the one of the last connection).
std::string Configuration::ServerAddressOf(const std::string& hostText, const platform::StopToken& stop) {
  bool teamspeak = EqualsNoCase(hostText, "teamspeak");
  teamspeakMode_ = teamspeak;
  if (!teamspeak) return GetRemoteIP(hostText, stop);

  std::optional<std::string> asked = teamspeakHost_ ? teamspeakHost_() : std::nullopt;
  std::optional<std::string> host;
  bool named = false;
  {
    platform::MutexLock lock(teamspeakLock_);
    if (asked && !asked->empty()) teamspeakHostText_ = asked;
    host = teamspeakHostText_;
    if (host && *host != teamspeakHostLogged_) {
      teamspeakHostLogged_ = *host;
      named = true;
    }
  }
  if (!host) {
    Report(
        "[HCS] HOST=teamspeak: not connected to a TeamSpeak server yet, the station server is taken as "
        "127.0.0.1 until then");
    return kLoopback;
  }
  if (named) log_.Write(kUpdateTag, "[HCS] HOST=teamspeak: the station server is on " + *host, 0);
  return GetRemoteIP(*host, stop);
}

void Configuration::NoteTeamSpeakServer(const std::string& host) {
  if (host.empty()) return;
  {
    platform::MutexLock lock(teamspeakLock_);
    teamspeakHostText_ = host;
  }
  if (!teamspeakMode_.load()) return;
  uint32_t address = 0;
  if (!host.empty() && host[0] >= '1' && host[0] <= '9' && ParseDottedIPv4(host, &address)) {
    settings_.SetServer(ServerEndpoint{host, serverPort_.load()});
  }
  reloadRequested_ = true;  // the reload names it in the log, and looks a name up
}

std::string Configuration::GetRemoteIP(const std::string& host, const platform::StopToken& stop) {
  uint32_t address = 0;
  if (!host.empty() && host[0] >= '1' && host[0] <= '9' && ParseDottedIPv4(host, &address)) {
    ForgetFailedHost();
    return host;
  }
  NameLookup::Outcome outcome = nameLookup_.Resolve(host, &address, stop);
  if (outcome == NameLookup::Outcome::kResolved) {
    ForgetFailedHost();
    return FormatDottedIPv4(address);
  }
  if (stop.StopRequested()) return kLoopback;  // stopping: nobody needs the address or a box
  std::string message = Format("Can not resolve server address : %s !", host.c_str());
  if (outcome == NameLookup::Outcome::kNoAnswer) {
    message += Format(" (no answer within %u ms)", static_cast<unsigned>(NameLookup::kWaitMs));
  }
  log_.Write("GetRemoteIP", message, 0);
  bool showBox;
  {
    platform::MutexLock lock(boxLock_);
    showBox = lastFailedHost_ != host;
    lastFailedHost_ = host;
  }
  if (showBox) {
    ShowBox(kResolveCaption,
            L"Can not resolve HC server address.\nCheck [HCS] HOST in " + settings_.iniPath + L", please.",
            platform::MessageIcon::kError);
  }
  return kLoopback;
}

void Configuration::ForgetFailedHost() {
  platform::MutexLock lock(boxLock_);
  lastFailedHost_.reset();
}

// The box stays until the user closes it, maybe hidden behind the client: it is shown on a thread
// of its own so that no thread of the plug-in (nor the host's, at start) waits for it.
void Configuration::ShowBox(const std::wstring& caption, const std::wstring& text,
                            platform::MessageIcon icon) {
  platform::Env& env = env_;
  if (!env_.StartDetachedThread([&env, caption, text, icon] { env.ShowMessageBox(caption, text, icon); })) {
    log_.Write("ShowMessageBox", "Cannot show the message box \"" + platform::WideToUtf8(caption) + "\"", 0);
  }
}

}  // namespace halcyra
