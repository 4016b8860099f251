// What happens when another client of the channel talks.
//
// OnTalkStatusChange (host event thread) judges whether a local radio receives the talker and places
// his voice in the host's 3D space: on the ear of the receiving radio, at the listener's own
// position when attenuation is off, or far away (0, 100, 0) where the host's rolloff makes him
// inaudible. It judges at once on the record it has and returns without waiting for the network:
// the refresh of his record from the station server goes to the exchange's query thread, and when
// the answer (within 450 ms) changes his record he is judged again there and, if he belongs
// elsewhere now, placed again through the host call relay. A newer talk event of the same client
// supersedes the refresh of an older one. The exchange must be stopped before the handler goes
// (its answers call the handler). OnEditPlaybackVoiceData (host playback
// thread) judges every block again and makes it sound like the radio; a block of a talker who has
// a station but cannot be received at that moment (no local radio on his frequency, out of range,
// behind terrain) is silenced, clear or encrypted alike. A block holds sampleCount frames of
// channels interleaved samples (2 on a stereo channel); every sample of every channel is treated or
// silenced, and channels below 1 edits nothing.
//
// Units: 3D positions in the host's space (listener at the origin, distance factor 1, rolloff 100);
// gain 0 (perfect) .. 20 (not receivable).
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "foundation/host_abi.h"
#include "foundation/host_calls.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "network/server_exchange.h"
#include "platform/mutex.h"
#include "propagation/station_model.h"
#include "station/channel_clients.h"

namespace halcyra {

inline constexpr TS3_VECTOR kFarPosition{0.0f, 100.0f, 0.0f};
inline constexpr TS3_VECTOR kOriginPosition{0.0f, 0.0f, 0.0f};
inline constexpr int kWatchdogTalkLimit = 5;  // talk events are ignored above this many silent ticks

// The ear position of localRadio at distance v: left (ear -1) (-v - 0.001, 0.1), right (ear 1)
// (v + 0.001, 0.1), anything else in front (0, v); (0, 0, 0) for a radio other than 1..3.
TS3_VECTOR EarPosition(int localRadio, float v, int ear1, int ear2, int ear3);

class TalkHandler {
 public:
  TalkHandler(Clog& log, Settings& settings, SimulatorStatus& simulator, CTS3ClientsBase& clients,
              CHalcyra& model, StationServerExchange& exchange, const TS3Functions& host,
              HostCallRelay& hostCalls);

  void OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, anyID clientID);
  void OnEditPlaybackVoiceData(anyID clientID, short* samples, int sampleCount, int channels);

  // Fills the ear position of the receiving local radio (and logs it at LOGLEVEL >= 3).
  void Set3DSoundPositionTS3(TS3_VECTOR* position, int localRadio, float v);

 private:
  // Where a judgement puts the talker: at position, or nowhere new (he keeps his place).
  struct Placement {
    bool place = false;
    TS3_VECTOR position{0.0f, 0.0f, 0.0f};
  };
  // The latest talk event of each client, shared with the relayed host calls (which may outlive
  // the handler when the stop gives them up).
  struct LatestEvents {
    platform::Mutex lock;  // a leaf
    std::map<anyID, uint64_t> generation GUARDED_BY(lock);
    uint64_t last GUARDED_BY(lock) = 0;
    uint64_t Next(anyID clientID) EXCLUDES(lock);
    bool IsLatest(anyID clientID, uint64_t value) EXCLUDES(lock);
  };
  struct TalkEvent {
    uint64 serverConnectionHandlerID = 0;
    int status = 0;
    anyID clientID = 0;
    uint64_t generation = 0;
  };

  // Steps "Halcyra Nickname is known" to "Remote is clear / encrypted" on one record.
  Placement Judge(int status, StationRecord& record);
  void OnRefreshed(const TalkEvent& event, const StationRecord& judged, const Placement& placed, int result,
                   const platform::StopToken& hostCallStop);
  void Place(uint64 serverConnectionHandlerID, anyID clientID, const TS3_VECTOR& position);
  void LogDetailed(const std::string& text);
  void LogDetailedVoice(const std::string& text);

  Clog& log_;
  Settings& settings_;
  SimulatorStatus& simulator_;
  CTS3ClientsBase& clients_;
  CHalcyra& model_;
  StationServerExchange& exchange_;
  const TS3Functions& host_;
  HostCallRelay& hostCalls_;
  std::shared_ptr<LatestEvents> latest_ = std::make_shared<LatestEvents>();
};

}  // namespace halcyra
