// What happens when another client of the channel talks.
//
// OnTalkStatusChange (host event thread) refreshes the talker's station from the station server,
// judges whether a local radio receives him and places his voice in the host's 3D space: on the
// ear of the receiving radio, at the listener's own position when attenuation is off, or far away
// (0, 100, 0) where the host's rolloff makes him inaudible. OnEditPlaybackVoiceData (host playback
// thread) judges every block again and makes it sound like the radio; a block of a talker who has
// a station but cannot be received at that moment (no local radio on his frequency, out of range,
// behind terrain) is silenced, clear or encrypted alike. A block holds sampleCount frames of
// channels interleaved samples (2 on a stereo channel); every sample of every channel is treated or
// silenced, and channels below 1 edits nothing.
//
// Units: 3D positions in the host's space (listener at the origin, distance factor 1, rolloff 100);
// gain 0 (perfect) .. 20 (not receivable).
#pragma once

#include "foundation/host_abi.h"
#include "foundation/log.h"
#include "foundation/settings.h"
#include "foundation/simulator_status.h"
#include "network/server_exchange.h"
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
              CHalcyra& model, StationServerExchange& exchange, const TS3Functions& host);

  void OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, anyID clientID);
  void OnEditPlaybackVoiceData(anyID clientID, short* samples, int sampleCount, int channels);

  // Fills the ear position of the receiving local radio (and logs it at LOGLEVEL >= 3).
  void Set3DSoundPositionTS3(TS3_VECTOR* position, int localRadio, float v);

 private:
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
};

}  // namespace halcyra
