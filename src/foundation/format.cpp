#include "foundation/format.h"

#include <cstdarg>
#include <cstdio>

namespace halcyra {

std::string Format(const char* format, ...) {
  char buffer[kMessageCapacity];
  va_list arguments;
  va_start(arguments, format);
  int written = std::vsnprintf(buffer, sizeof buffer, format, arguments);
  va_end(arguments);
  if (written < 0) return std::string();
  return std::string(buffer);
}

}  // namespace halcyra
