#include <windows.h>
#include <winsock2.h>

#include "platform/socket_errors.h"

namespace halcyra::platform {

bool IsPortUnreachableError(int socketError) { return socketError == WSAECONNRESET; }

std::string SocketErrorText(int socketError) {
  char text[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(socketError), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' ' ||
                        text[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return "unknown error";
  return std::string(text, length);
}

}  // namespace halcyra::platform
