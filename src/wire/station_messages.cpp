#include "wire/station_messages.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "wire/field_scanner.h"

namespace halcyra::wire {
namespace {

// A fixed-capacity text of a record as (length, bytes) for "%.*s": never reads past its array,
// even when a writer left it without terminator.
struct Bounded {
  int length;
  const char* text;
};

template <size_t N>
Bounded Field(const char (&text)[N]) {
  const void* terminator = std::memchr(text, '\0', N);
  size_t length = terminator ? static_cast<size_t>(static_cast<const char*>(terminator) - text) : N;
  return {static_cast<int>(length), text};
}

// Formats into an area of kMaxDatagramBytes + 1 bytes, so the result is cut to kMaxDatagramBytes.
std::string FormatRecord(const char* prefix, const StationRecord& s, const char* end) {
  char area[kMaxDatagramBytes + 1];
  Bounded n = Field(s.nickname), lat = Field(s.latitudeText), lon = Field(s.longitudeText),
          alt = Field(s.altitudeText), f1 = Field(s.frequency1), f2 = Field(s.frequency2),
          f3 = Field(s.frequency3), marks = Field(s.activeMarks), crypto = Field(s.cryptoFrequency);
  int length = std::snprintf(area, sizeof area, "%s%.*s@%.*s %.*s %.*s %.*s %.*s %.*s %.*s %.*s %d %d%s",
                             prefix, n.length, n.text, lat.length, lat.text, lon.length, lon.text, alt.length,
                             alt.text, f1.length, f1.text, f2.length, f2.text, f3.length, f3.text,
                             marks.length, marks.text, crypto.length, crypto.text,
                             static_cast<int>(s.cryptoKey), static_cast<int>(s.radioClass), end);
  if (length < 0) return std::string();
  return std::string(area, std::min(static_cast<size_t>(length), kMaxDatagramBytes));
}

bool IsWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string FormatPublish(const StationRecord& station) { return FormatRecord("SET:", station, " "); }

std::string FormatQuery(std::string_view nickname) {
  std::string query;
  query.reserve(nickname.size() + 6);
  query.append(kQueryPrefix).append(nickname).append("@ ");
  if (query.size() > kMaxDatagramBytes) query.resize(kMaxDatagramBytes);
  return query;
}

std::string FormatRecordText(const StationRecord& station) { return FormatRecord("", station, ""); }

std::optional<size_t> ReplyNicknameLength(std::string_view reply) {
  size_t characters = 0;
  for (size_t i = 0; i < reply.size() && i < kNicknameCapacity; ++i) {
    unsigned char byte = static_cast<unsigned char>(reply[i]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte of a UTF-8 character
    if (++characters > kReplyNicknameSearchLength) break;
    if (byte == '@') return i;
  }
  return std::nullopt;
}

ParsedReply ParseReply(std::string_view reply, StationRecord* record) {
  reply = reply.substr(0, reply.find('\0'));
  ParsedReply parsed;
  if (reply == kNotFoundReply) {
    parsed.kind = ReplyKind::kNotFound;
    return parsed;
  }
  std::optional<size_t> nickname = ReplyNicknameLength(reply);
  if (!nickname || *nickname == 0) return parsed;  // kInvalidFrame
  size_t at = *nickname;

  parsed.kind = ReplyKind::kRecord;
  std::memcpy(record->nickname, reply.data(), at);  // at < kNicknameCapacity
  record->nickname[at] = '\0';
  FieldScanner scan(reply.substr(at + 1));
  scan.Text(record->latitudeText)
      .Text(record->longitudeText)
      .Text(record->altitudeText)
      .Text(record->frequency1)
      .Text(record->frequency2)
      .Text(record->frequency3)
      .Text(record->activeMarks)
      .Text(record->cryptoFrequency)
      .Int(record->cryptoKey)
      .Int(record->radioClass);
  parsed.fields = scan.assigned();
  record->altitude = DecimalValue(record->altitudeText);
  record->longitude = DecimalValue(record->longitudeText);
  record->latitude = DecimalValue(record->latitudeText);
  return parsed;
}

float DecimalValue(const char* text) {
  if (text == nullptr) return 0;
  while (IsWhitespace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  // from_chars would take a second sign; strtod does not.
  if (*text == '+' || *text == '-') return 0;
  double value = 0;
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, value, std::chars_format::general);
  if (error != std::errc() || stop == text) return 0;
  if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) return 0;
  return static_cast<float>(negative ? -value : value);
}

}  // namespace halcyra::wire
