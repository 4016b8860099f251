// Reading the fixed-capacity texts of a station record safely.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace halcyra {

// The text held in a fixed-capacity field: up to the terminator, and never more than capacity - 1
// bytes, so a field that was filled without terminator is read as if it had been cut.
template <size_t N>
std::string_view TextOf(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N - 1));
}

// A terminated copy of a field, for printf-style formatting.
template <size_t N>
std::string PrintableText(const char (&field)[N]) {
  return std::string(TextOf(field));
}

}  // namespace halcyra
