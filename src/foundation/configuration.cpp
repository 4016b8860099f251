#include "foundation/configuration.h"

#include <climits>
#include <cstdio>
#include <cwctype>

#include "foundation/format.h"
#include "platform/dynamic_library.h"
#include "platform/ipv4.h"

namespace halcyra {
namespace {

constexpr char kTag[] = "ReadIniFile";
constexpr size_t kTileFolderCapacity = 260;  // characters, terminator included

constexpr wchar_t kResolveCaption[] = L"Halcyra TS plugin : IP Address Error";
constexpr wchar_t kResolveText[] =
    L"Can not resolve HC server address.\nCheck Halcyra server address from Halcyra Control program, please.";
constexpr wchar_t kNoTilesText[] = L"No path for relief database is found. Mask of relief will not work !";

// The caption of the missing-tiles warning names our own library file.
std::wstring NoTilesCaption() { return L"TeamSpeak3 : " + platform::Utf8ToWide(platform::PluginFileName()); }

std::wstring JoinPath(const std::wstring& folder, const wchar_t* first, const wchar_t* second) {
  std::wstring separator(1, static_cast<wchar_t>(platform::PathSeparator()));
  return folder + separator + first + separator + second;
}

// Scans "%d %d"; a value that does not hold two integers counts as unbound (-1 -1).
void ScanBinding(const std::wstring& value, int* device, int* button) {
  std::string text = platform::WideToUtf8(value);
  if (std::sscanf(text.c_str(), "%d %d", device, button) != 2) {
    *device = -1;
    *button = -1;
  }
}

}  // namespace

int ParseLeadingInt(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
    negative = text[i] == L'-';
    ++i;
  }
  long long value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = value * 10 + (text[i] - L'0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  return static_cast<int>(value);
}

Configuration::Configuration(platform::Env& env, Clog& log, Settings& settings, SimulatorStatus& simulator)
    : env_(env), log_(log), settings_(settings), simulator_(simulator), nameLookup_(env) {}

std::wstring Configuration::ReadString(const wchar_t* section, const wchar_t* key,
                                       const wchar_t* defaultValue) {
  return env_.ReadIniString(settings_.iniPath, section, key, defaultValue);
}

int Configuration::ReadInt(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue) {
  return ParseLeadingInt(ReadString(section, key, defaultValue));
}

int Configuration::ReadIniFile() {
  simulator_.alive = 1;
  std::wstring savedGames;
  if (!env_.SavedGamesFolder(&savedGames)) return 0;

  settings_.iniPath = JoinPath(savedGames, L"Halcyra", L"Halcyra.ini");
  settings_.logLevel = ReadInt(L"LOG", L"LOGLEVEL", L"0");
  log_.Init(JoinPath(savedGames, L"Halcyra", L"Halcyra.log"), settings_.logLevel);

  log_.Write(kTag, "Read HGT parameters", 3);
  std::wstring tileFolder = FindTileFolder();
  log_.Write(kTag, "HGT Files path : " + platform::WideToUtf8(tileFolder), 0);

  settings_.hgtPath =
      tileFolder.size() < kTileFolderCapacity ? platform::WideToUtf8(tileFolder) : std::string();
  if (tiles_) tiles_->SetTileFolder(settings_.hgtPath);

  UpdatePluginInfo();
  if (selectors_) selectors_->ShowRadioSelectors();

  ServerEndpoint server = settings_.Server();
  log_.Write(kTag, Format("Halcyra Server : %s:%d", server.address.c_str(), server.port), 0);
  ReadSimulatorListenAddress();
  return 1;
}

// Only a simulator on this computer may command the aircraft unless the user opens the port to
// other computers; a value that is no address keeps it closed.
void Configuration::ReadSimulatorListenAddress() {
  std::string text = platform::WideToUtf8(ReadString(L"DCS", L"LISTEN", L"127.0.0.1"));
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

std::wstring Configuration::FindTileFolder() {
  std::wstring folder = ReadString(L"HGT", L"Path", L"");
  if (!folder.empty()) return folder;
  std::wstring installFolder;
  if (ReadInstallFolder(platform::RegistryRoot::kLocalMachine, "! Can not read HGT path in Registry HKLM",
                        &installFolder) ||
      ReadInstallFolder(platform::RegistryRoot::kCurrentUser, "! Can not read HGT path in Registry HKCU",
                        &installFolder)) {
    return installFolder + static_cast<wchar_t>(platform::PathSeparator()) + L"HGT";
  }
  ShowBox(NoTilesCaption(), kNoTilesText, platform::MessageIcon::kWarning);
  return std::wstring();
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
  static const wchar_t* const kKeys[] = {L"RADIO1", L"RADIO2", L"RADIO3"};
  for (int radio = 0; radio < 3; ++radio) {
    int device = -1;
    int button = -1;
    ScanBinding(ReadString(L"SELECTOR", kKeys[radio], L"-1 -1"), &device, &button);
    if (selectors_) selectors_->SetRadioSelector(radio, device, button);
  }
}

void Configuration::UpdatePluginInfo(const std::atomic<bool>* stop) {
  constexpr char kUpdateTag[] = "UpdatePluginInfo";
  ReadSelectors();

  settings_.ear1 = ReadInt(L"EAR", L"RADIO1", L"0");
  settings_.ear2 = ReadInt(L"EAR", L"RADIO2", L"0");
  settings_.ear3 = ReadInt(L"EAR", L"RADIO3", L"0");
  if (log_.Detailed()) {
    log_.Write(kUpdateTag,
               Format("Listening ears : #1=%d / #2=%d / #3=%d", settings_.ear1.load(), settings_.ear2.load(),
                      settings_.ear3.load()),
               5);
  }

  std::string host = platform::WideToUtf8(ReadString(L"HCS", L"HOST", L"127.0.0.1"));
  ServerEndpoint server;
  server.address = GetRemoteIP(host, stop);
  server.port = ReadInt(L"HCS", L"UDP", L"10600");
  settings_.SetServer(server);
  if (log_.Detailed()) {
    log_.Write(kUpdateTag,
               Format("Halcyra Server : (%s) %s:%d", host.c_str(), server.address.c_str(), server.port), 0);
  }

  settings_.attenuation = ReadInt(L"SYSTEM", L"ATTN", L"1");
  if (log_.Detailed()) {
    log_.Write(kUpdateTag, settings_.attenuation.load() == 1 ? "Attenuation is ON" : "Attenuation is OFF", 5);
  }
}

std::string Configuration::GetRemoteIP(const std::string& host, const std::atomic<bool>* stop) {
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
  if (stop != nullptr && stop->load()) return "127.0.0.1";  // stopping: nobody needs the address or a box
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
  if (showBox) ShowBox(kResolveCaption, kResolveText, platform::MessageIcon::kError);
  return "127.0.0.1";
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
