#include "wire/field_scanner.h"

#include <cstring>
#include <limits>

namespace halcyra::wire {
namespace {

// The whitespace of the "C" locale, independent of the process locale.
bool IsWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

FieldScanner::FieldScanner(std::string_view text) : text_(text.substr(0, text.find('\0'))) {}

void FieldScanner::SkipWhitespace() {
  while (position_ < text_.size() && IsWhitespace(text_[position_])) ++position_;
}

FieldScanner& FieldScanner::Text(char* field, size_t capacity) {
  if (ended_) return *this;
  SkipWhitespace();
  size_t start = position_;
  while (position_ < text_.size() && !IsWhitespace(text_[position_])) ++position_;
  size_t length = position_ - start;
  if (length == 0) {
    ended_ = true;
    return *this;
  }
  if (length >= capacity) {
    field[0] = '\0';
    ended_ = true;
    return *this;
  }
  std::memcpy(field, text_.data() + start, length);
  field[length] = '\0';
  ++assigned_;
  return *this;
}

FieldScanner& FieldScanner::Int(int32_t& field) {
  if (ended_) return *this;
  SkipWhitespace();
  size_t cursor = position_;
  bool negative = false;
  if (cursor < text_.size() && (text_[cursor] == '+' || text_[cursor] == '-')) {
    negative = text_[cursor] == '-';
    ++cursor;
  }
  if (cursor >= text_.size() || !IsDigit(text_[cursor])) {
    ended_ = true;
    return *this;
  }
  // Accumulate the magnitude, saturating just beyond the int32 range.
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  while (cursor < text_.size() && IsDigit(text_[cursor])) {
    magnitude = magnitude * 10 + (text_[cursor] - '0');
    if (magnitude > kLimit) magnitude = kLimit;
    ++cursor;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) value = std::numeric_limits<int32_t>::max();
  field = static_cast<int32_t>(value);
  position_ = cursor;
  ++assigned_;
  return *this;
}

}  // namespace halcyra::wire
