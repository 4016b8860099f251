// The station server reply parser: wire::ParseReply on any reply the query socket can receive,
// into a record pre-filled with a pilot's stored values. The result must say what the reply is,
// and the record must stay well-formed, with numbers that match its texts.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "wire/station_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace halcyra;
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  StationRecord record = DefaultStation();
  CopyText(record.nickname, "Stored");
  CopyText(record.frequency1, "251.000");
  record.cryptoKey = 12;
  const StationRecord before = record;

  wire::ParsedReply parsed = wire::ParseReply(reply, &record);

  std::string_view text = reply.substr(0, reply.find('\0'));
  std::optional<size_t> nickname = wire::ReplyNicknameLength(text);
  size_t at = nickname.value_or(0);
  if (text == wire::kNotFoundReply) {
    FUZZ_CHECK(parsed.kind == wire::ReplyKind::kNotFound);
  } else if (at == 0) {
    FUZZ_CHECK(parsed.kind == wire::ReplyKind::kInvalidFrame);
  } else {
    FUZZ_CHECK(parsed.kind == wire::ReplyKind::kRecord);
  }
  if (parsed.kind != wire::ReplyKind::kRecord) {
    FUZZ_CHECK(std::memcmp(&before, &record, sizeof record) == 0);
    return 0;
  }
  FUZZ_CHECK(parsed.fields >= 0 && parsed.fields <= wire::kRecordFieldCount);
  FUZZ_CHECK(fuzzing::TextsTerminated(record));
  FUZZ_CHECK(text.substr(0, at) == record.nickname);
  FUZZ_CHECK(record.latitude == wire::DecimalValue(record.latitudeText));
  FUZZ_CHECK(record.longitude == wire::DecimalValue(record.longitudeText));
  FUZZ_CHECK(record.altitude == wire::DecimalValue(record.altitudeText));
  FUZZ_CHECK(std::isfinite(record.latitude) && std::isfinite(record.longitude) &&
             std::isfinite(record.altitude));
  // Fields the reply did not reach keep the stored values; a word too long for its text field
  // empties that field and ends the reply.
  if (parsed.fields < 3) FUZZ_CHECK(std::strcmp(record.frequency1, before.frequency1) == 0);
  if (parsed.fields == 3) {
    FUZZ_CHECK(std::strcmp(record.frequency1, before.frequency1) == 0 || record.frequency1[0] == '\0');
  }
  if (parsed.fields < 9) FUZZ_CHECK(record.cryptoKey == before.cryptoKey);
  // What was read travels back out the same way.
  std::string written = wire::FormatRecordText(record);
  FUZZ_CHECK(written.size() <= wire::kMaxDatagramBytes);
  StationRecord again = DefaultStation();
  wire::ParsedReply reparsed = wire::ParseReply(written, &again);
  FUZZ_CHECK(reparsed.kind == wire::ReplyKind::kRecord);
  FUZZ_CHECK(std::strcmp(again.nickname, record.nickname) == 0);
  return 0;
}
