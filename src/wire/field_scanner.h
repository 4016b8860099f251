// FieldScanner: reads whitespace-separated words of a text into fields, one step per field, the
// way the simulator commands and the station server replies are read.
//
//   FieldScanner scan(text);
//   scan.Text(station.frequency1).Text(station.frequency2).Int(station.cryptoKey);
//   int assigned = scan.assigned();
//
// Rules, the same for every caller:
// - Any run of whitespace (blank, tab, CR, LF, VT, FF) before a field is skipped, so any run of
//   blanks separates fields. The text ends at its first zero byte, if it has one.
// - A text field takes one word (a run of non-whitespace bytes). A word that fits (at most
//   capacity - 1 bytes) is copied and terminated. A word of capacity bytes or more leaves the field
//   empty and ends the scan.
// - An integer field reads like %d: an optional sign and then decimal digits; reading stops at the
//   first byte that is not a digit, and that byte starts the next field ("12abc" gives 12, and "abc"
//   is the next word). A value beyond the int32 range is clamped to INT32_MIN or INT32_MAX. A word
//   that does not begin with digits (after an optional sign) leaves the field unchanged and ends
//   the scan.
// - When the text runs out, the remaining fields keep their previous values.
// Once the scan has ended, further steps change nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace halcyra::wire {

class FieldScanner {
 public:
  explicit FieldScanner(std::string_view text);

  template <size_t N>
  FieldScanner& Text(char (&field)[N]) {
    static_assert(N > 0, "a text field needs room for its terminator");
    return Text(field, N);
  }
  // capacity includes the terminator and must be at least 1.
  FieldScanner& Text(char* field, size_t capacity);
  FieldScanner& Int(int32_t& field);

  // Fields that received a value (an emptied over-long text field does not count).
  int assigned() const { return assigned_; }
  // True once a field could not be read: text ran out, word too long or not a number.
  bool ended() const { return ended_; }

 private:
  void SkipWhitespace();

  std::string_view text_;
  size_t position_ = 0;
  int assigned_ = 0;
  bool ended_ = false;
};

}  // namespace halcyra::wire
