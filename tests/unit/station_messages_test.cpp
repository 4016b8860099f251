#include "wire/station_messages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "host_folders.h"

namespace halcyra::wire {
namespace {

StationRecord DefaultStation(const char* nickname) {
  StationRecord station = halcyra::DefaultStation();
  CopyText(station.nickname, nickname);
  return station;
}

StationRecord FlyingStation() {
  StationRecord station = DefaultStation("Red Dog 1-1");
  CopyText(station.latitudeText, "41.650900");
  CopyText(station.longitudeText, "-41.60");
  CopyText(station.altitudeText, "16404.2");
  CopyText(station.frequency1, "251.000");
  CopyText(station.frequency2, "124.000");
  CopyText(station.frequency3, "030.000");
  CopyText(station.activeMarks, "_X_");
  CopyText(station.cryptoFrequency, "124.000");
  station.cryptoKey = -4;
  station.radioClass = 200;
  return station;
}

const char kViperRecord[] = "Viper@0.000000 0.000000 0 000.000 000.000 000.000 ___ 000.000 0 0";

TEST(StationMessages, ViperPublishQueryAndRecordText) {
  StationRecord viper = DefaultStation("Viper");
  EXPECT_EQ(std::string("SET:") + kViperRecord + " ", FormatPublish(viper));
  EXPECT_EQ("GET:Viper@ ", FormatQuery("Viper"));
  EXPECT_EQ(kViperRecord, FormatRecordText(viper));
}

TEST(StationMessages, ViperReplyIsReadWithOrWithoutFinalBlank) {
  for (std::string reply : {std::string(kViperRecord), std::string(kViperRecord) + " "}) {
    StationRecord parsed = FlyingStation();  // different values everywhere, all overwritten
    ParsedReply result = ParseReply(reply, &parsed);
    ASSERT_EQ(ReplyKind::kRecord, result.kind) << reply;
    EXPECT_EQ(kRecordFieldCount, result.fields);
    EXPECT_EQ(kViperRecord, FormatRecordText(parsed));
    EXPECT_EQ(0.0f, parsed.latitude);
    EXPECT_EQ(0.0f, parsed.altitude);
  }
}

TEST(StationMessages, PublishedRecordRoundTripsThroughTheReplyParser) {
  StationRecord sent = FlyingStation();
  CopyText(sent.nickname, "Hawk");
  std::string publish = FormatPublish(sent);
  ASSERT_EQ(0u, publish.rfind("SET:", 0));

  StationRecord received = DefaultStation("someone else");
  ParsedReply result = ParseReply(publish.substr(4), &received);
  ASSERT_EQ(ReplyKind::kRecord, result.kind);
  EXPECT_EQ(10, result.fields);
  EXPECT_EQ(FormatRecordText(sent), FormatRecordText(received));
  EXPECT_FLOAT_EQ(41.6509f, received.latitude);
  EXPECT_FLOAT_EQ(-41.6f, received.longitude);
  EXPECT_FLOAT_EQ(16404.2f, received.altitude);
}

// The host allows nicknames of 30 characters.
TEST(StationMessages, NicknameOf30CharactersIsReceivedAnd31IsAnInvalidFrame) {
  std::string name30(30, 'n');
  StationRecord record = DefaultStation("x");
  ParsedReply ok = ParseReply(name30 + "@1 2 3 111.000 222.000 333.000 X__ 000.000 1 2 ", &record);
  ASSERT_EQ(ReplyKind::kRecord, ok.kind);
  EXPECT_EQ(name30, record.nickname);
  EXPECT_EQ(2, record.radioClass);
  // Characters, not bytes: 30 Cyrillic letters are 60 bytes of UTF-8.
  std::string cyrillic30;
  for (int i = 0; i < 30; ++i) cyrillic30 += "\xD0\x96";
  ASSERT_EQ(ReplyKind::kRecord,
            ParseReply(cyrillic30 + "@1 2 3 111.000 222.000 333.000 X__ 000.000 1 2 ", &record).kind);
  EXPECT_EQ(cyrillic30, record.nickname);

  StationRecord untouched = DefaultStation("x");
  std::string name31(31, 'n');
  EXPECT_EQ(ReplyKind::kInvalidFrame,
            ParseReply(name31 + "@1 2 3 111.000 222.000 333.000 X__ 000.000 1 2 ", &untouched).kind);
  EXPECT_EQ(
      ReplyKind::kInvalidFrame,
      ParseReply(cyrillic30 + "\xD0\x96@1 2 3 111.000 222.000 333.000 X__ 000.000 1 2 ", &untouched).kind);
  EXPECT_STREQ("x", untouched.nickname);
  EXPECT_STREQ("0.000000", untouched.latitudeText);
  // A 31-character nickname can still be published.
  EXPECT_EQ("SET:" + name31 + "@", FormatPublish(DefaultStation(name31.c_str())).substr(0, 36));
}

TEST(StationMessages, NotFoundOnlyWhenExact) {
  StationRecord record = DefaultStation("x");
  EXPECT_EQ(ReplyKind::kNotFound, ParseReply("(no found) ", &record).kind);
  EXPECT_EQ(ReplyKind::kInvalidFrame, ParseReply("(no found) x", &record).kind);
  EXPECT_EQ(ReplyKind::kInvalidFrame, ParseReply("(no found)", &record).kind);
  // The same words followed by more go on to the "@" search.
  ParsedReply odd = ParseReply("(no found) @1 2 3", &record);
  EXPECT_EQ(ReplyKind::kRecord, odd.kind);
  EXPECT_STREQ("(no found) ", record.nickname);
  EXPECT_EQ(3, odd.fields);
}

TEST(StationMessages, InvalidFramesLeaveTheRecordAlone) {
  StationRecord record = FlyingStation();
  std::string before = FormatRecordText(record);
  EXPECT_EQ(ReplyKind::kInvalidFrame, ParseReply("", &record).kind);
  EXPECT_EQ(ReplyKind::kInvalidFrame, ParseReply("garbage without at sign", &record).kind);
  EXPECT_EQ(ReplyKind::kInvalidFrame, ParseReply("@1 2 3 nobody", &record).kind);  // empty nickname
  EXPECT_EQ(ReplyKind::kInvalidFrame, ParseReply(std::string_view("Vip\0er@1 2 3", 12), &record).kind);
  EXPECT_EQ(before, FormatRecordText(record));
}

TEST(StationMessages, NicknameWithBlanksTravelsVerbatim) {
  StationRecord sent = FlyingStation();  // "Red Dog 1-1"
  StationRecord received = DefaultStation("x");
  ASSERT_EQ(ReplyKind::kRecord, ParseReply(FormatPublish(sent).substr(4), &received).kind);
  EXPECT_STREQ("Red Dog 1-1", received.nickname);
  EXPECT_STREQ("251.000", received.frequency1);
}

TEST(StationMessages, NicknameContainingAtIsCutAndTheRestIsTheFirstField) {
  StationRecord sent = DefaultStation("ace@wing");
  StationRecord received = DefaultStation("x");
  ParsedReply result = ParseReply(FormatPublish(sent).substr(4), &received);
  ASSERT_EQ(ReplyKind::kRecord, result.kind);
  EXPECT_STREQ("ace", received.nickname);
  // "wing@0.000000" is 13 characters: too long for the latitude text, which ends the scan.
  EXPECT_EQ(0, result.fields);
  EXPECT_STREQ("", received.latitudeText);
  EXPECT_STREQ("0.000000", received.longitudeText);
}

TEST(StationMessages, ShortReplyKeepsThePrefilledFields) {
  StationRecord stored = FlyingStation();
  CopyText(stored.nickname, "Hawk");
  StationRecord scratch = stored;  // the caller starts from the stored record of that nickname
  ParsedReply result = ParseReply("Hawk@42.5 -41.5 ", &scratch);
  ASSERT_EQ(ReplyKind::kRecord, result.kind);
  EXPECT_EQ(2, result.fields);
  EXPECT_FLOAT_EQ(42.5f, scratch.latitude);
  EXPECT_FLOAT_EQ(-41.5f, scratch.longitude);
  EXPECT_STREQ("16404.2", scratch.altitudeText);
  EXPECT_FLOAT_EQ(16404.2f, scratch.altitude);
  EXPECT_STREQ("251.000", scratch.frequency1);
  EXPECT_EQ(200, scratch.radioClass);
}

TEST(StationMessages, OverlongFrequencyEmptiesItAndKeepsTheRest) {
  StationRecord scratch = FlyingStation();
  ParsedReply result = ParseReply("Hawk@1.5 2.5 300 118.000 1240000.0 999.999 X__ 000.000 7 1", &scratch);
  ASSERT_EQ(ReplyKind::kRecord, result.kind);
  EXPECT_EQ(4, result.fields);
  EXPECT_STREQ("118.000", scratch.frequency1);
  EXPECT_STREQ("", scratch.frequency2);
  EXPECT_STREQ("030.000", scratch.frequency3);
  EXPECT_STREQ("_X_", scratch.activeMarks);
  EXPECT_EQ(-4, scratch.cryptoKey);
  EXPECT_FLOAT_EQ(300.0f, scratch.altitude);
}

TEST(StationMessages, NonNumericKeyLeavesKeyAndClass) {
  StationRecord scratch = FlyingStation();
  ParsedReply result = ParseReply("Hawk@1.5 2.5 300 118.000 124.000 999.999 X__ 000.000 secret 1", &scratch);
  ASSERT_EQ(ReplyKind::kRecord, result.kind);
  EXPECT_EQ(8, result.fields);
  EXPECT_EQ(-4, scratch.cryptoKey);
  EXPECT_EQ(200, scratch.radioClass);
  EXPECT_STREQ("000.000", scratch.cryptoFrequency);
}

TEST(StationMessages, UnterminatedRecordTextsAreNeverReadPastTheirField) {
  StationRecord station = DefaultStation("Viper");
  std::memset(station.frequency1, '1', sizeof station.frequency1);  // no terminator
  std::string publish = FormatPublish(station);
  EXPECT_NE(std::string::npos, publish.find(" 11111111 000.000 "));
}

TEST(StationMessages, LongestPublishStaysWithinOneDatagram) {
  StationRecord station = FlyingStation();
  std::string longName(127, 'w');
  CopyText(station.nickname, longName.c_str());
  station.cryptoKey = INT32_MIN;
  std::string publish = FormatPublish(station);
  EXPECT_LE(publish.size(), kMaxDatagramBytes);
  EXPECT_EQ(' ', publish.back());
  EXPECT_EQ(kMaxDatagramBytes, FormatQuery(std::string(2000, 'q')).size());
}

// A program in the host's process may switch the C locale to one with a decimal comma: the numbers
// of the wire keep their decimal point.
TEST(DecimalValue, ReadsLikeStrtodInAnyLocale) {
  testing::ScopedCommaDecimalLocale comma;
  ASSERT_TRUE(comma.ok()) << comma.error();
  ASSERT_EQ(1.0, std::strtod("1.5", nullptr)) << "the locale should read a decimal comma";
  EXPECT_FLOAT_EQ(41.6509f, DecimalValue("41.650900"));
  EXPECT_FLOAT_EQ(-3.5f, DecimalValue("  -3.5"));
  EXPECT_FLOAT_EQ(2.0f, DecimalValue("+2"));
  EXPECT_FLOAT_EQ(12.5f, DecimalValue("12.5abc"));
  EXPECT_FLOAT_EQ(1500.0f, DecimalValue("1.5e3"));
  EXPECT_EQ(0.0f, DecimalValue("abc"));
  EXPECT_EQ(0.0f, DecimalValue(""));
  EXPECT_EQ(0.0f, DecimalValue("+-1"));
  EXPECT_EQ(0.0f, DecimalValue(nullptr));
}

TEST(DecimalValue, NonFiniteValuesBecomeZero) {
  EXPECT_EQ(0.0f, DecimalValue("nan"));
  EXPECT_EQ(0.0f, DecimalValue("-inf"));
  EXPECT_EQ(0.0f, DecimalValue("1e39"));   // beyond float
  EXPECT_EQ(0.0f, DecimalValue("1e999"));  // beyond double
}

}  // namespace
}  // namespace halcyra::wire
