// CTS3ClientsBase, the channel client database: the other TeamSpeak clients of the own channel,
// rebuilt from the host on every client-move event, plus the 3D-sound helpers.
//
// Guarding: listLock_ covers the node list; a rebuild (deleteCDB + BuildDataBase) holds it
// throughout, and every look-up holds it for its walk and returns a copy of the node. The handler,
// own client and own channel ids are single atomics. The own-nickname callback is called after
// listLock_ is released, so it may take locks of its own.
//
// Lock order: listLock_ is held while the host's client functions are called and while the log is
// written, so it comes before the host's own locks and the log's (Clog).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "platform/mutex.h"
#include "platform/stop.h"
#include "station/station_record.h"

namespace halcyra {

struct ClientNode {
  int32_t id = 0;                         // 1-based position in insertion order
  char nickname[kNicknameCapacity] = {};  // UTF-8, at most 127 bytes
  anyID clientID = 0;
};

class CTS3ClientsBase {
 public:
  // ownNickname receives the own client's nickname at every build (it names the local station).
  CTS3ClientsBase(Clog& log, std::function<void(const char* nickname)> ownNickname);

  // --- host events ---
  void OnConnectStatusChange(uint64 serverConnectionHandlerID, int newStatus, const TS3Functions& host);
  void OnClientMove(uint64 serverConnectionHandlerID, anyID clientID, uint64 newChannelID,
                    const TS3Functions& host) EXCLUDES(listLock_);

  // Appends one node per other client of the own channel; the own client's nickname goes to the
  // local station. Returns the count, or -1 when the host refused the list or it was empty.
  int BuildDataBase(uint64 serverConnectionHandlerID, const TS3Functions& host) EXCLUDES(listLock_);
  int AddCDB_item(const char* nickname, anyID clientID) EXCLUDES(listLock_);
  void deleteCDB() EXCLUDES(listLock_);
  void Setup3DListener(uint64 serverConnectionHandlerID, const TS3Functions& host);
  // Put every listed client, or one, back at the listener's position. They run on the plug-in's own
  // threads, so the host is called through the relay; they give up once stop is stopped.
  void Reset3DSoundForAllClients(HostCallRelay& hostCalls, const platform::StopToken& stop)
      EXCLUDES(listLock_);
  void Reset3DSoundForClient(HostCallRelay& hostCalls, const ClientNode& node,
                             const platform::StopToken& stop);
  void Terminate() EXCLUDES(listLock_);

  // Look-ups (first match from the first real node); copies.
  std::optional<ClientNode> FindByClientID(anyID clientID) const EXCLUDES(listLock_);
  std::optional<ClientNode> FindById(int id) const EXCLUDES(listLock_);
  std::optional<ClientNode> FindByNickname(const char* nickname) const EXCLUDES(listLock_);
  int Count() const EXCLUDES(listLock_);

  uint64 CurrentServerConnectionHandlerID() const { return currentHandler_.load(); }
  void SetCurrentServerConnectionHandlerID(uint64 handler) { currentHandler_.store(handler); }
  anyID OwnClientID() const { return ownClientID_.load(); }
  uint64 OwnChannelID() const { return ownChannelID_.load(); }

 private:
  void DeleteLocked() REQUIRES(listLock_);
  int BuildLocked(uint64 serverConnectionHandlerID, const TS3Functions& host,
                  std::optional<std::string>& ownNickname) REQUIRES(listLock_);
  bool ReadClientLocked(uint64 serverConnectionHandlerID, const TS3Functions& host, anyID clientID,
                        std::optional<std::string>& ownNickname) REQUIRES(listLock_);
  int AddLocked(const char* nickname, anyID clientID) REQUIRES(listLock_);

  void OnConnectionEstablished(uint64 serverConnectionHandlerID, const TS3Functions& host);
  void ReportOwnNickname(const std::optional<std::string>& ownNickname);
  void LogNewClient(const ClientNode& node);
  std::optional<ClientNode> FindFirst(const std::function<bool(const ClientNode&)>& matches) const
      EXCLUDES(listLock_);

  Clog& log_;
  std::function<void(const char*)> ownNickname_;
  mutable platform::Mutex listLock_;
  std::vector<ClientNode> nodes_ GUARDED_BY(listLock_);
  std::atomic<uint64> currentHandler_{0};
  std::atomic<anyID> ownClientID_{0};
  std::atomic<uint64> ownChannelID_{~uint64{0}};
};

}  // namespace halcyra
