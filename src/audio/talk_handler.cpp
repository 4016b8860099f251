#include "audio/talk_handler.h"

#include <algorithm>

#include "audio/voice_effects.h"
#include "foundation/format.h"
#include "propagation/reception.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {
constexpr char kTalkTag[] = "ts3plugin_onTalkStatusChangeEvent";
constexpr char kVoiceTag[] = "ts3plugin_onEditPlaybackVoiceDataEvent";
}  // namespace

TS3_VECTOR EarPosition(int localRadio, float v, int ear1, int ear2, int ear3) {
  TS3_VECTOR position{0.0f, 0.0f, 0.0f};
  int ear = 0;
  switch (localRadio) {
    case 1:
      ear = ear1;
      break;
    case 2:
      ear = ear2;
      break;
    case 3:
      ear = ear3;
      break;
    default:
      return position;
  }
  if (ear == -1) {
    position.x = static_cast<float>(-static_cast<double>(v) - 0.001);
    position.y = 0.1f;
  } else if (ear == 1) {
    position.x = static_cast<float>(static_cast<double>(v) + 0.001);
    position.y = 0.1f;
  } else {
    position.y = v;
  }
  return position;
}

TalkHandler::TalkHandler(Clog& log, Settings& settings, SimulatorStatus& simulator, CTS3ClientsBase& clients,
                         CHalcyra& model, StationServerExchange& exchange, const TS3Functions& host,
                         HostCallRelay& hostCalls)
    : log_(log),
      settings_(settings),
      simulator_(simulator),
      clients_(clients),
      model_(model),
      exchange_(exchange),
      host_(host),
      hostCalls_(hostCalls) {}

uint64_t TalkHandler::LatestEvents::Next(anyID clientID) {
  platform::MutexLock guard(lock);
  generation[clientID] = ++last;
  return last;
}

bool TalkHandler::LatestEvents::IsLatest(anyID clientID, uint64_t value) {
  platform::MutexLock guard(lock);
  auto found = generation.find(clientID);
  return found != generation.end() && found->second == value;
}

void TalkHandler::LogDetailed(const std::string& text) {
  if (log_.Detailed()) log_.Write(kTalkTag, text, 5);
}

void TalkHandler::LogDetailedVoice(const std::string& text) {
  if (log_.Detailed()) log_.Write(kVoiceTag, text, 5);
}

void TalkHandler::Place(uint64 serverConnectionHandlerID, anyID clientID, const TS3_VECTOR& position) {
  if (host_.channelset3DAttributes)
    host_.channelset3DAttributes(serverConnectionHandlerID, clientID, &position);
}

void TalkHandler::Set3DSoundPositionTS3(TS3_VECTOR* position, int localRadio, float v) {
  int ear1 = settings_.ear1.load();
  int ear2 = settings_.ear2.load();
  int ear3 = settings_.ear3.load();
  *position = EarPosition(localRadio, v, ear1, ear2, ear3);
  if (log_.Detailed()) {
    log_.Write("Set3DSoundPositionTS3",
               Format("Listening ears : Current %d. #1=%d / #2=%d / #3=%d {x=%2.6f,y=%2.6f}", localRadio,
                      ear1, ear2, ear3, static_cast<double>(position->x), static_cast<double>(position->y)),
               5);
  }
}

void TalkHandler::OnTalkStatusChange(uint64 serverConnectionHandlerID, int status, anyID clientID) {
  LogDetailed("Event");
  if (simulator_.watchdogCounter.load() > kWatchdogTalkLimit) {
    LogDetailed("No DCS update. Do not manage TS3 clients");
    return;
  }
  clients_.SetCurrentServerConnectionHandlerID(serverConnectionHandlerID);
  std::optional<ClientNode> node = clients_.FindByClientID(clientID);
  if (!node) return;
  LogDetailed(Format("Client TS3 is known : \"%s\" ", node->nickname));
  std::optional<StationRecord> record = model_.FindStation(node->nickname);
  if (!record) return;

  // Judged and placed at once on the record we have; the refresh follows on the query thread.
  Placement placed = Judge(status, *record);
  if (placed.place) Place(serverConnectionHandlerID, clientID, placed.position);
  TalkEvent event{serverConnectionHandlerID, status, clientID, latest_->Next(clientID)};
  StationRecord judged = *record;
  exchange_.RefreshClientStatus(
      node->nickname, [this, event, judged, placed](int result, const platform::StopToken& hostCallStop) {
        OnRefreshed(event, judged, placed, result, hostCallStop);
      });
}

// On the query thread: the talker's refreshed record is judged again when it changed, and he is
// placed again when he belongs elsewhere now - unless a newer talk event of his came meanwhile.
// The second judgement writes the same lines after "Refreshed station of ... : judged again".
void TalkHandler::OnRefreshed(const TalkEvent& event, const StationRecord& judged, const Placement& placed,
                              int result, const platform::StopToken& hostCallStop) {
  if (result != kQueryStored || !latest_->IsLatest(event.clientID, event.generation)) return;
  if (simulator_.watchdogCounter.load() > kWatchdogTalkLimit) return;
  std::optional<StationRecord> fresh = model_.FindStation(judged.nickname);
  if (!fresh || wire::FormatRecordText(*fresh) == wire::FormatRecordText(judged)) return;
  LogDetailed(Format("Refreshed station of \"%s\" : judged again", fresh->nickname));
  Placement again = Judge(event.status, *fresh);
  if (!again.place) return;
  if (placed.place && again.position.x == placed.position.x && again.position.y == placed.position.y &&
      again.position.z == placed.position.z) {
    return;
  }
  std::shared_ptr<LatestEvents> latest = latest_;
  TS3_VECTOR position = again.position;
  hostCalls_.Run(
      [latest, event, position](const TS3Functions& host) {
        if (host.channelset3DAttributes && latest->IsLatest(event.clientID, event.generation))
          host.channelset3DAttributes(event.serverConnectionHandlerID, event.clientID, &position);
      },
      hostCallStop);
}

TalkHandler::Placement TalkHandler::Judge(int status, StationRecord& record) {
  LogDetailed(Format("Halcyra Nickname is known : \"%s\" ", record.nickname));
  StationRecord local = model_.LocalStation();
  int remoteRadio = 0;
  int localRadio = 0;
  if (model_.IsAudible(local, record, &remoteRadio, &localRadio) != 1) {
    LogDetailed("Cannot ear this Nickname");
    return {true, kFarPosition};
  }
  if (status != 1) {
    LogDetailed("Default : (Remote doesn't talk)");
    return {};
  }
  if (settings_.attenuation.load() == 0) {
    LogDetailed("Attenuation is off. Listen clear and at center the client");
    return {true, kOriginPosition};
  }

  float gain = model_.JudgeRange(local, record, remoteRadio, kGainLimit).gain;
  TS3_VECTOR ear;
  Set3DSoundPositionTS3(&ear, localRadio, 1.0f);
  LogDetailed(
      Format("3DSound position : x=%2.3f , y=%2.3f / Gain=%4.3f (Limit=%4.3f) / Gain for remote %4.3f",
             static_cast<double>(ear.x), static_cast<double>(ear.y), static_cast<double>(gain),
             static_cast<double>(kGainLimit), static_cast<double>(gain) + 1.0));
  bool receivable = gain < kGainLimit;
  if (!receivable) log_.Write(kTalkTag, "Gain > limit. Can not receive it", 5);

  if (model_.IsEncrypted(local, record) == 0) {
    LogDetailed("Remote is clear");
    return {true, receivable ? ear : kFarPosition};
  }
  LogDetailed("Remote is encrypted and muted");
  // Below the limit his voice becomes the encryption tone and he keeps his place; at or above it
  // he cannot be received at all, so he goes far away like a clear talker.
  if (!receivable) return {true, kFarPosition};
  return {};
}

void TalkHandler::OnEditPlaybackVoiceData(anyID clientID, short* samples, int sampleCount, int channels) {
  size_t sampleTotal = InterleavedSampleCount(sampleCount, channels);
  if (samples == nullptr || sampleTotal == 0) return;
  if (settings_.attenuation.load() == 0 || simulator_.alive.load() == 0) return;
  std::optional<ClientNode> node = clients_.FindByClientID(clientID);
  if (!node) return;
  std::optional<StationRecord> record = model_.FindStation(node->nickname);
  if (!record) return;
  // One snapshot of the local station for the whole block.
  StationRecord local = model_.LocalStation();
  Reception reception = JudgeReception(model_, local, *record, true, kGainLimit);
  if (!reception.Receivable(kGainLimit)) {
    // No local radio receives him now. His talk event may have placed him on an ear before he
    // went behind terrain or out of range, so his voice itself must not reach the listener.
    std::fill_n(samples, sampleTotal, static_cast<short>(0));
    LogDetailedVoice(Format("Cannot receive \"%s\" : voice block silenced", record->nickname));
    return;
  }
  RadioVolumes volumes{local.volume1, local.volume2, local.volume3};
  TreatInterleavedVoiceBlock(samples, sampleCount, channels, reception.range.gain, reception.encrypted,
                             record->cryptoKey, reception.localRadio, volumes, &log_);
}

}  // namespace halcyra
