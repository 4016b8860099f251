// Bounded printf-style formatting of message texts.
#pragma once

#include <string>

namespace halcyra {

// Message texts are formatted into buffers of this many characters, terminator included.
inline constexpr size_t kMessageCapacity = 1024;

// Formats like snprintf into at most kMessageCapacity - 1 characters; longer output is cut.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace halcyra
