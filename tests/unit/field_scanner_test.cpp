#include "wire/field_scanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace halcyra::wire {
namespace {

// The shape of the radio command: four texts of capacity 8 and one integer.
struct RadioFields {
  char f1[8] = "old1";
  char f2[8] = "old2";
  char f3[8] = "old3";
  char crypto[8] = "oldc";
  int32_t key = 77;

  int Scan(const char* text) {
    FieldScanner scan(text);
    scan.Text(f1).Text(f2).Text(f3).Text(crypto).Int(key);
    return scan.assigned();
  }
};

TEST(FieldScanner, AnyRunOfWhitespaceSeparatesFields) {
  RadioFields fields;
  EXPECT_EQ(5, fields.Scan("  251.000\t\t124.000 \r\n 030.000   000.000  -12 "));
  EXPECT_STREQ("251.000", fields.f1);
  EXPECT_STREQ("124.000", fields.f2);
  EXPECT_STREQ("030.000", fields.f3);
  EXPECT_STREQ("000.000", fields.crypto);
  EXPECT_EQ(-12, fields.key);
}

TEST(FieldScanner, MissingFieldsKeepTheirValues) {
  RadioFields fields;
  EXPECT_EQ(2, fields.Scan("251.000 124.000"));
  EXPECT_STREQ("124.000", fields.f2);
  EXPECT_STREQ("old3", fields.f3);
  EXPECT_STREQ("oldc", fields.crypto);
  EXPECT_EQ(77, fields.key);

  RadioFields empty;
  EXPECT_EQ(0, empty.Scan("   "));
  EXPECT_STREQ("old1", empty.f1);
}

TEST(FieldScanner, WordOfCapacityMinusOneFitsAndLongerWordEmptiesItsFieldAndEndsTheScan) {
  RadioFields fits;
  EXPECT_EQ(5, fits.Scan("1234567 a b c 5"));
  EXPECT_STREQ("1234567", fits.f1);

  RadioFields tooLong;
  EXPECT_EQ(1, tooLong.Scan("251.000 12345678 030.000 000.000 5"));
  EXPECT_STREQ("251.000", tooLong.f1);
  EXPECT_STREQ("", tooLong.f2);
  EXPECT_STREQ("old3", tooLong.f3);  // the scan ended at the long word
  EXPECT_STREQ("oldc", tooLong.crypto);
  EXPECT_EQ(77, tooLong.key);
}

TEST(FieldScanner, NonNumericWordLeavesTheIntegerAndEndsTheScan) {
  int32_t a = 1, b = 2, c = 3;
  FieldScanner scan("40 loud 60");
  scan.Int(a).Int(b).Int(c);
  EXPECT_EQ(1, scan.assigned());
  EXPECT_TRUE(scan.ended());
  EXPECT_EQ(40, a);
  EXPECT_EQ(2, b);
  EXPECT_EQ(3, c);

  int32_t sign = 9;
  FieldScanner lone("- 5");
  lone.Int(sign);
  EXPECT_EQ(0, lone.assigned());
  EXPECT_EQ(9, sign);
}

TEST(FieldScanner, IntegerStopsAtTheFirstNonDigitWhichStartsTheNextField) {
  int32_t number = 0;
  char word[8] = "x";
  FieldScanner scan("+12abc");
  scan.Int(number).Text(word);
  EXPECT_EQ(2, scan.assigned());
  EXPECT_EQ(12, number);
  EXPECT_STREQ("abc", word);
}

TEST(FieldScanner, IntegersBeyondTheRangeClamp) {
  int32_t high = 0, low = 0, max = 0, min = 0;
  FieldScanner scan("99999999999999999999 -99999999999999999999 2147483647 -2147483648");
  scan.Int(high).Int(low).Int(max).Int(min);
  EXPECT_EQ(4, scan.assigned());
  EXPECT_EQ(INT32_MAX, high);
  EXPECT_EQ(INT32_MIN, low);
  EXPECT_EQ(INT32_MAX, max);
  EXPECT_EQ(INT32_MIN, min);
}

TEST(FieldScanner, TextEndsAtItsFirstZeroByte) {
  char first[8] = "x";
  char second[8] = "keep";
  std::string_view text("one\0two", 7);
  FieldScanner scan(text);
  scan.Text(first).Text(second);
  EXPECT_EQ(1, scan.assigned());
  EXPECT_STREQ("one", first);
  EXPECT_STREQ("keep", second);
}

}  // namespace
}  // namespace halcyra::wire
