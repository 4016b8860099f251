// A pilot's station: position, radios, encryption and radio class, with fixed-capacity texts.
//
// Texts are zero-terminated byte strings whose capacity includes the terminator. The texts of the
// position and the radios travel to and from the station server as they are; the numbers are
// derived from the texts by the receiver. Units: latitude and longitude in degrees, altitude in
// feet, distance in nautical miles, volumes in percent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace halcyra {

inline constexpr size_t kNicknameCapacity = 128;
inline constexpr size_t kPositionTextCapacity = 12;
inline constexpr size_t kFrequencyCapacity = 8;

inline constexpr char kUnknownNickname[] = "(unknown)";
inline constexpr char kRadioOff[] = "000.000";  // a radio whose frequency reads so is off

struct StationRecord {
  char nickname[kNicknameCapacity] = {};          // key of the remote list (exact, case-sensitive)
  char latitudeText[kPositionTextCapacity] = {};  // decimal degrees as sent
  char longitudeText[kPositionTextCapacity] = {};
  char altitudeText[kPositionTextCapacity] = {};  // feet
  float latitude = 0;                             // degrees
  float longitude = 0;                            // degrees
  float altitude = 0;                             // feet
  char frequency1[kFrequencyCapacity] = {};       // compared as text; "000.000" = off
  char frequency2[kFrequencyCapacity] = {};
  char frequency3[kFrequencyCapacity] = {};
  int32_t volume1 = 0;  // percent (local station only)
  int32_t volume2 = 0;
  int32_t volume3 = 0;
  char activeMarks[kFrequencyCapacity] = {};      // "X" at index r when radio r+1 transmits, else "_"
  char cryptoFrequency[kFrequencyCapacity] = {};  // frequency the encryption applies to
  int32_t cryptoKey = 0;
  float distance = 0;      // NM from the local station (remote records)
  int32_t radioClass = 0;  // 0, 1, 2, 100 or 200
};

// Copies at most capacity - 1 bytes of source and terminates the text.
template <size_t N>
void CopyText(char (&destination)[N], const char* source) {
  size_t length = source ? std::strlen(source) : 0;
  if (length > N - 1) length = N - 1;
  if (length) std::memcpy(destination, source, length);
  destination[length] = '\0';
}

// A station with the defaults of a local station before any simulator command: "(unknown)",
// position "0.000000" "0.000000" "0", every radio and the crypto frequency "000.000", marks "___",
// volumes 100, key 0, class 0.
inline StationRecord DefaultStation() {
  StationRecord station;
  CopyText(station.nickname, kUnknownNickname);
  CopyText(station.latitudeText, "0.000000");
  CopyText(station.longitudeText, "0.000000");
  CopyText(station.altitudeText, "0");
  CopyText(station.frequency1, kRadioOff);
  CopyText(station.frequency2, kRadioOff);
  CopyText(station.frequency3, kRadioOff);
  CopyText(station.activeMarks, "___");
  CopyText(station.cryptoFrequency, kRadioOff);
  station.volume1 = station.volume2 = station.volume3 = 100;
  return station;
}

// The frequency text of radio 1..3; null for any other index.
inline const char* RadioFrequency(const StationRecord& station, int radio) {
  switch (radio) {
    case 1:
      return station.frequency1;
    case 2:
      return station.frequency2;
    case 3:
      return station.frequency3;
    default:
      return nullptr;
  }
}

}  // namespace halcyra
