// The simulator link's datagram handling: any datagram the listener on port 10602 can receive
// (0 to 575 bytes, zero bytes included) goes through SimulatorLink::HandleDatagram, which filters
// it and runs the four commands on a station model with a tile under the positions of class 1 and
// 2 stations. After each datagram the local station must still be a well-formed record.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/simulator_status.h"
#include "fuzz_support.h"
#include "hgt_tile.h"
#include "network/simulator_commands.h"
#include "network/simulator_link.h"
#include "propagation/hgt_files.h"
#include "propagation/station_model.h"
#include "temp_dir.h"
#include "wire/station_messages.h"

namespace halcyra {
namespace {

constexpr char kNickname[] = "Viper";

struct Harness {
  Harness() : log(fuzzing::DetailedNullLog()), tiles(platform::Env::Default(), *log), model(*log, tiles) {
    // A tile of rising ground under 42..43 N 41..42 E, so ground stations get a terrain altitude.
    // It stays loaded; the folder goes at once (a fuzzer run may end without destructors).
    testing::TempDir folder;
    testing::HgtTile tile;
    for (int row = 0; row < testing::HgtTile::kSize; row += 7)
      tile.Set(row, row, static_cast<uint16_t>(row * 7));
    tile.WriteTo(folder.path() / "N42E041.HGT");
    tiles.SetTileFolder(platform::WideToUtf8(folder.path().wstring()));
    LLAltPoint onTheRidge{testing::LatitudeOfRow(42, 602), testing::LongitudeOfColumn(41, 602), 0};
    if (tiles.GetElevationFromLL(onTheRidge) == 0) fuzzing::Fail("the tile did not load", __FILE__, __LINE__);
  }

  int Publish() {
    std::string message = wire::FormatPublish(model.LocalStation());
    FUZZ_CHECK(message.size() <= wire::kMaxDatagramBytes);
    FUZZ_CHECK(message.rfind(std::string("SET:") + kNickname + "@", 0) == 0);
    ++publishes;
    return 0;
  }

  std::unique_ptr<Clog> log;
  CHGTFiles tiles;
  CHalcyra model;
  SimulatorStatus simulator;
  SimulatorCommands commands{*log, model, tiles, [this] { return Publish(); }};
  SimulatorLink link{platform::Env::Default(), *log, commands, simulator};
  int publishes = 0;
};

bool IsCommand(const char* text, size_t size, const char* word) {
  return size >= SimulatorLink::kMinimumLength && size <= SimulatorLink::kMaximumLength &&
         std::strncmp(text, word, 9) == 0;
}

}  // namespace
}  // namespace halcyra

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace halcyra;
  static Harness harness;
  // The listener receives at most 575 bytes; a longer datagram never reaches the handler.
  if (size > SimulatorLink::kBufferSize - 1) return 0;
  char buffer[SimulatorLink::kBufferSize];
  std::memcpy(buffer, data, size);
  buffer[size] = '\0';

  harness.model.Initialize();
  harness.model.UpdateLocalStation([](StationRecord& local) { CopyText(local.nickname, kNickname); });
  harness.simulator.watchdogCounter = 7;
  int publishesBefore = harness.publishes;
  StationRecord before = harness.model.LocalStation();

  harness.link.HandleDatagram(buffer, static_cast<int>(size));

  StationRecord after = harness.model.LocalStation();
  FUZZ_CHECK(fuzzing::TextsTerminated(after));
  FUZZ_CHECK(std::strcmp(after.nickname, kNickname) == 0);
  FUZZ_CHECK(std::isfinite(after.latitude) && std::isfinite(after.longitude) &&
             std::isfinite(after.altitude));
  bool setPosition = IsCommand(buffer, size, "SET_LLALT");
  bool publishing =
      setPosition || IsCommand(buffer, size, "SET_RADIO") || IsCommand(buffer, size, "SET_ACTIV");
  FUZZ_CHECK((harness.simulator.watchdogCounter.load() == 0) == setPosition);
  FUZZ_CHECK(harness.publishes - publishesBefore == (publishing ? 1 : 0));
  if (!publishing && !IsCommand(buffer, size, "SET_VOLUM")) {
    FUZZ_CHECK(std::memcmp(&before, &after, sizeof before) == 0);
  }
  return 0;
}
