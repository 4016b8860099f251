#include "station/channel_clients.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "foundation/format.h"

namespace halcyra {
namespace {

constexpr char kBuildTag[] = "CTS3ClientsBase::BuildDataBase";
constexpr char kAddTag[] = "CTS3ClientsBase::AddCDB_item";
constexpr char kDeleteTag[] = "CTS3ClientsBase::deleteCDB";
constexpr char kListenerTag[] = "CTS3ClientsBase::Setup3DListener";
constexpr char kResetAllTag[] = "CTS3ClientsBase::Reset3DSoundForAllClients";
constexpr char kResetOneTag[] = "CTS3ClientsBase::Reset3DSoundForClient";
constexpr char kConnectTag[] = "onConnectStatusChangeEvent";
constexpr char kMoveTag[] = "onClientMoveEvent";

// The listener sits at the origin; a voice placed there is heard without 3D attenuation.
constexpr TS3_VECTOR kOrigin{0.0f, 0.0f, 0.0f};
constexpr float kDistanceFactor = 1.0f;
constexpr float kRolloffScale = 100.0f;

constexpr size_t kMaxUtf8ContinuationBytes = 3;

bool IsUtf8Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Number of bytes of text that fit into capacity - 1 bytes without cutting a UTF-8 sequence: when
// the first byte left out continues a sequence, the whole sequence is left out.
size_t FittingNicknameLength(const char* text, size_t capacity) {
  size_t length = std::strlen(text);
  if (length < capacity) return length;
  size_t cut = capacity - 1;
  size_t dropped = 0;
  while (dropped < kMaxUtf8ContinuationBytes && cut > 0 && IsUtf8Continuation(text[cut])) {
    --cut;
    ++dropped;
  }
  return cut;
}

void CopyNickname(char (&destination)[kNicknameCapacity], const char* source) {
  size_t length = source ? FittingNicknameLength(source, kNicknameCapacity) : 0;
  if (length) std::memcpy(destination, source, length);
  destination[length] = '\0';
}

std::string FittedNickname(const char* source) {
  return std::string(source, FittingNicknameLength(source, kNicknameCapacity));
}

void LogMissingHostFunction(Clog& log, const char* tag, const char* function) {
  LogNarrow(log, tag, Format("The host does not provide %s", function), 0);
}

// Host memory handed out through an out-pointer; given back with freeMemory when this goes away,
// whichever way the caller leaves.
template <typename T>
class HostMemory {
 public:
  explicit HostMemory(const TS3Functions& host) : host_(host) {}
  ~HostMemory() {
    if (pointer_ != nullptr) host_.freeMemory(pointer_);
  }
  HostMemory(const HostMemory&) = delete;
  HostMemory& operator=(const HostMemory&) = delete;

  T** Out() { return &pointer_; }
  T* Get() const { return pointer_; }

 private:
  const TS3Functions& host_;
  T* pointer_ = nullptr;
};

// Appends "%02X:" per byte of nickname, whole groups only, while the text stays within a message.
void AppendHexDump(std::string& text, const char* nickname) {
  constexpr size_t kGroupLength = 3;
  for (const char* byte = nickname; *byte != '\0'; ++byte) {
    if (text.size() + kGroupLength > kMessageCapacity - 1) break;
    char group[kGroupLength + 1];
    std::snprintf(group, sizeof group, "%02X:", static_cast<unsigned int>(static_cast<unsigned char>(*byte)));
    text.append(group);
  }
}

}  // namespace

CTS3ClientsBase::CTS3ClientsBase(Clog& log, std::function<void(const char* nickname)> ownNickname)
    : log_(log), ownNickname_(std::move(ownNickname)) {}

void CTS3ClientsBase::OnConnectStatusChange(uint64 serverConnectionHandlerID, int newStatus,
                                            const TS3Functions& host) {
  switch (newStatus) {
    case STATUS_CONNECTION_ESTABLISHED:
      OnConnectionEstablished(serverConnectionHandlerID, host);
      break;
    case STATUS_DISCONNECTED:
      LogNarrow(log_, "onConnectStatusChangeEvent : Client disconnected", "", 0);
      break;
    default:
      break;
  }
}

// A failing getClientID leaves the previous own client ID in place.
void CTS3ClientsBase::OnConnectionEstablished(uint64 serverConnectionHandlerID, const TS3Functions& host) {
  currentHandler_.store(serverConnectionHandlerID);
  if (host.getClientID == nullptr) {
    LogMissingHostFunction(log_, kConnectTag, "getClientID");
  } else {
    anyID ownClientID = 0;
    unsigned int error = host.getClientID(serverConnectionHandlerID, &ownClientID);
    if (error == 0) {
      ownClientID_.store(ownClientID);
    } else {
      LogNarrow(log_, kConnectTag,
                Format("getClientID failed with error %u; own client ID stays %u", error,
                       static_cast<unsigned int>(ownClientID_.load())),
                0);
    }
  }
  Setup3DListener(currentHandler_.load(), host);
}

void CTS3ClientsBase::OnClientMove(uint64 serverConnectionHandlerID, anyID clientID, uint64 newChannelID,
                                   const TS3Functions& host) {
  if (clientID == ownClientID_.load()) {
    ownChannelID_.store(newChannelID);
    if (log_.Accepts(5)) {
      LogNarrow(log_, kMoveTag,
                Format("newChannelID 0x%08X", static_cast<unsigned int>(static_cast<uint32_t>(newChannelID))),
                5);
    }
  }
  Setup3DListener(serverConnectionHandlerID, host);

  std::optional<std::string> ownNickname;
  int countAfterBuild = 0;
  {
    platform::MutexLock lock(listLock_);
    DeleteLocked();
    if (log_.Accepts(5)) {
      LogNarrow(log_, kMoveTag,
                Format("Number of clients = %d (after delete)", static_cast<int>(nodes_.size())), 5);
    }
    BuildLocked(serverConnectionHandlerID, host, ownNickname);
    countAfterBuild = static_cast<int>(nodes_.size());
  }
  ReportOwnNickname(ownNickname);
  if (log_.Accepts(5)) {
    LogNarrow(log_, kMoveTag, Format("Number of clients = %d (after build)", countAfterBuild), 5);
  }
}

int CTS3ClientsBase::BuildDataBase(uint64 serverConnectionHandlerID, const TS3Functions& host) {
  std::optional<std::string> ownNickname;
  int result = 0;
  {
    platform::MutexLock lock(listLock_);
    result = BuildLocked(serverConnectionHandlerID, host, ownNickname);
  }
  ReportOwnNickname(ownNickname);
  return result;
}

int CTS3ClientsBase::BuildLocked(uint64 serverConnectionHandlerID, const TS3Functions& host,
                                 std::optional<std::string>& ownNickname) {
  const char* missing = host.getChannelClientList == nullptr        ? "getChannelClientList"
                        : host.getClientVariableAsString == nullptr ? "getClientVariableAsString"
                        : host.freeMemory == nullptr                ? "freeMemory"
                                                                    : nullptr;
  if (missing != nullptr) {
    LogMissingHostFunction(log_, kBuildTag, missing);
    return -1;
  }

  HostMemory<anyID> list(host);
  if (host.getChannelClientList(serverConnectionHandlerID, ownChannelID_.load(), list.Out()) != 0) {
    LogNarrow(log_, "CTS3ClientsBase::BuildDataBase : Error getting channel list", "", 0);
    return -1;
  }
  if (list.Get() == nullptr || list.Get()[0] == 0) {
    LogNarrow(log_, "CTS3ClientsBase::BuildDataBase : No Clients", "", 0);
    return -1;
  }
  for (const anyID* entry = list.Get(); *entry != 0; ++entry) {
    if (!ReadClientLocked(serverConnectionHandlerID, host, *entry, ownNickname)) break;
  }
  return static_cast<int>(nodes_.size());
}

// Reads one client's nickname and lists him, or keeps the nickname when he is the own client.
// False when the nickname could not be read, which ends the build.
bool CTS3ClientsBase::ReadClientLocked(uint64 serverConnectionHandlerID, const TS3Functions& host,
                                       anyID clientID, std::optional<std::string>& ownNickname) {
  HostMemory<char> nickname(host);
  unsigned int error =
      host.getClientVariableAsString(serverConnectionHandlerID, clientID, CLIENT_NICKNAME, nickname.Out());
  if (error != 0 || nickname.Get() == nullptr) {
    LogNarrow(log_, "CTS3ClientsBase::BuildDataBase : Error getting Client nickname", "", 0);
    return false;
  }
  if (clientID == ownClientID_.load()) {
    ownNickname = FittedNickname(nickname.Get());
  } else {
    AddLocked(nickname.Get(), clientID);
  }
  return true;
}

void CTS3ClientsBase::ReportOwnNickname(const std::optional<std::string>& ownNickname) {
  if (ownNickname && ownNickname_) ownNickname_(ownNickname->c_str());
}

int CTS3ClientsBase::AddCDB_item(const char* nickname, anyID clientID) {
  platform::MutexLock lock(listLock_);
  return AddLocked(nickname, clientID);
}

int CTS3ClientsBase::AddLocked(const char* nickname, anyID clientID) {
  ClientNode node;
  CopyNickname(node.nickname, nickname);
  node.clientID = clientID;
  node.id = static_cast<int32_t>(nodes_.size()) + 1;
  nodes_.push_back(node);
  LogNewClient(node);
  return node.id;
}

// At LOGLEVEL 5 and above the nickname's bytes follow in hexadecimal, so look-alike names can be
// told apart.
void CTS3ClientsBase::LogNewClient(const ClientNode& node) {
  if (!log_.Accepts(4)) return;
  std::string text = Format("new Client : [#%03d]\"%s\"", node.id, node.nickname);
  if (log_.Level() >= 5) AppendHexDump(text, node.nickname);
  LogNarrow(log_, kAddTag, text, 4);
}

void CTS3ClientsBase::deleteCDB() {
  platform::MutexLock lock(listLock_);
  DeleteLocked();
}

void CTS3ClientsBase::DeleteLocked() {
  if (log_.Accepts(5)) {
    for (const ClientNode& node : nodes_) {
      LogNarrow(log_, kDeleteTag, Format("Delete {%s}", node.nickname), 5);
    }
  }
  nodes_.clear();
}

void CTS3ClientsBase::Setup3DListener(uint64 serverConnectionHandlerID, const TS3Functions& host) {
  if (host.systemset3DSettings == nullptr) {
    LogMissingHostFunction(log_, kListenerTag, "systemset3DSettings");
  } else {
    host.systemset3DSettings(serverConnectionHandlerID, kDistanceFactor, kRolloffScale);
  }
  if (host.systemset3DListenerAttributes == nullptr) {
    LogMissingHostFunction(log_, kListenerTag, "systemset3DListenerAttributes");
  } else {
    host.systemset3DListenerAttributes(serverConnectionHandlerID, &kOrigin, &kOrigin, &kOrigin);
  }
}

// The client IDs are copied under the lock; the host is called after it is released.
void CTS3ClientsBase::Reset3DSoundForAllClients(HostCallRelay& hostCalls, const platform::StopToken& stop) {
  LogNarrow(log_, kResetAllTag, "Reset clients 3D Sound", 5);
  if (hostCalls.Host().channelset3DAttributes == nullptr) {
    LogMissingHostFunction(log_, kResetAllTag, "channelset3DAttributes");
    return;
  }
  std::vector<anyID> clientIDs;
  {
    platform::MutexLock lock(listLock_);
    clientIDs.reserve(nodes_.size());
    for (const ClientNode& node : nodes_) clientIDs.push_back(node.clientID);
  }
  uint64 handler = currentHandler_.load();
  hostCalls.Run(
      [handler, clientIDs](const TS3Functions& host) {
        for (anyID clientID : clientIDs) host.channelset3DAttributes(handler, clientID, &kOrigin);
      },
      stop);
}

void CTS3ClientsBase::Reset3DSoundForClient(HostCallRelay& hostCalls, const ClientNode& node,
                                            const platform::StopToken& stop) {
  if (hostCalls.Host().channelset3DAttributes == nullptr) {
    LogMissingHostFunction(log_, kResetOneTag, "channelset3DAttributes");
    return;
  }
  uint64 handler = currentHandler_.load();
  anyID clientID = node.clientID;
  bool made = hostCalls.Run(
      [handler, clientID](const TS3Functions& host) {
        host.channelset3DAttributes(handler, clientID, &kOrigin);
      },
      stop);
  if (made && log_.Accepts(3)) {
    LogNarrow(log_, kResetOneTag,
              Format("Reset 3DSound for \"%.127s\" (%d)", node.nickname, static_cast<int>(node.clientID)), 3);
  }
}

void CTS3ClientsBase::Terminate() {
  LogNarrow(log_, "CTS3ClientsBase::Terminate", "", 2);
  deleteCDB();
}

std::optional<ClientNode> CTS3ClientsBase::FindFirst(
    const std::function<bool(const ClientNode&)>& matches) const {
  platform::MutexLock lock(listLock_);
  for (const ClientNode& node : nodes_) {
    if (matches(node)) return node;
  }
  return std::nullopt;
}

std::optional<ClientNode> CTS3ClientsBase::FindByClientID(anyID clientID) const {
  return FindFirst([clientID](const ClientNode& node) { return node.clientID == clientID; });
}

std::optional<ClientNode> CTS3ClientsBase::FindById(int id) const {
  return FindFirst([id](const ClientNode& node) { return node.id == id; });
}

std::optional<ClientNode> CTS3ClientsBase::FindByNickname(const char* nickname) const {
  if (nickname == nullptr) return std::nullopt;
  return FindFirst([nickname](const ClientNode& node) { return std::strcmp(node.nickname, nickname) == 0; });
}

int CTS3ClientsBase::Count() const {
  platform::MutexLock lock(listLock_);
  return static_cast<int>(nodes_.size());
}

}  // namespace halcyra
