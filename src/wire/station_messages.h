// The messages exchanged with the station server, shared by the plug-in and halcyra-server.
//
// Every message is one datagram of 8-bit text without a terminating zero, at most
// kMaxDatagramBytes long:
// - publish, plug-in to server:  "SET:" nickname "@" ten fields separated by one blank, one blank
// - query, plug-in to server:    "GET:" nickname "@ "
// - reply, server to plug-in:    "(no found) " exactly, or the publish text without "SET:"
// The ten fields are latitude, longitude and altitude texts, the three frequencies, the active
// marks, the encryption frequency, then the encryption key and the radio class as decimals.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "station/station_record.h"

namespace halcyra::wire {

// Messages are formatted into areas of 1023 bytes, terminator included.
inline constexpr size_t kMaxDatagramBytes = 1022;

inline constexpr std::string_view kPublishPrefix = "SET:";
inline constexpr std::string_view kQueryPrefix = "GET:";
inline constexpr std::string_view kNotFoundReply = "(no found) ";

// The "@" that ends the nickname of a reply must be among its first this many characters (UTF-8
// characters, not bytes), so every nickname the host allows (30 characters) can be received.
inline constexpr size_t kReplyNicknameSearchLength = 31;

// The length in bytes of the nickname that a reply begins with: the bytes before its first "@",
// when that "@" is among the first kReplyNicknameSearchLength UTF-8 characters and the nickname
// fits a record (kNicknameCapacity - 1 bytes). Nothing otherwise.
std::optional<size_t> ReplyNicknameLength(std::string_view reply);

// Fields of a record after the nickname.
inline constexpr int kRecordFieldCount = 10;

// The longest publish a plug-in can send, from the capacities of the fields it formats (each text
// holds at most its capacity - 1 bytes; the two numbers are int32 in decimal):
//   "SET:"                                                    4
//   nickname                        127 (capacity 128)      127
//   "@"                                                       1
//   latitude, longitude, altitude   3 x 11 (capacity 12)     33
//   three frequencies, active marks,
//   encryption frequency            5 x 7 (capacity 8)       35
//   encryption key, radio class     2 x 11 ("-2147483648")   22
//   blanks between the ten fields and the final one         10
//                                                          ----
//                                                           232
inline constexpr size_t kMaxPublishBytes = kPublishPrefix.size() + (kNicknameCapacity - 1) + 1 +
                                           3 * (kPositionTextCapacity - 1) + 5 * (kFrequencyCapacity - 1) +
                                           2 * 11 + kRecordFieldCount;
static_assert(kMaxPublishBytes == 232);

// "SET:%s@%s %s %s %s %s %s %s %s %d %d ", cut to kMaxDatagramBytes.
std::string FormatPublish(const StationRecord& station);
// "GET:%s@ ", cut to kMaxDatagramBytes.
std::string FormatQuery(std::string_view nickname);
// "%s@%s %s %s %s %s %s %s %s %d %d", the record as it appears in log lines.
std::string FormatRecordText(const StationRecord& station);

enum class ReplyKind {
  kRecord,        // a station record; see ParsedReply::fields
  kNotFound,      // exactly "(no found) "
  kInvalidFrame,  // no "@" among the first kReplyNicknameSearchLength characters, or nothing before it
};

struct ParsedReply {
  ReplyKind kind = ReplyKind::kInvalidFrame;
  // For kRecord: how many of the ten fields after the nickname were read (0..10). Fields that were
  // not read keep the values the record held before the call.
  int fields = 0;
};

// Reads a reply into record. The reply ends at its first zero byte, if it has one. For kRecord the
// nickname (the characters before the first "@") and the fields that were read are written, and
// latitude, longitude and altitude are set to the decimal values of their texts - also when the
// texts themselves were not part of the reply, so the numbers always match the texts. The caller
// pre-fills record (for example with the stored record of that nickname) so that fields a short
// reply does not carry never hold another pilot's values. For other kinds record is untouched.
ParsedReply ParseReply(std::string_view reply, StationRecord* record);

// The decimal value of a position text, as strtod reads it but independent of the process locale
// ('.' is always the decimal point): leading whitespace and a sign are allowed, reading stops at
// the first byte that does not belong to the number, and a text that does not begin with a number
// gives 0. A value that is not a finite float (NaN, infinity, or beyond the float range) gives 0.
float DecimalValue(const char* text);

}  // namespace halcyra::wire
