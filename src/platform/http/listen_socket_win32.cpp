#include <winsock2.h>

#include "platform/http/listen_socket.h"

namespace halcyra::platform {

// SO_EXCLUSIVEADDRUSE and never SO_REUSEADDR: on Windows SO_REUSEADDR would let another program
// bind the same port and take its connections; the exclusive option also keeps a more specific
// address of the same port from being bound by anyone else.
void MakeSoleListener(std::uintptr_t socket) {
  BOOL yes = TRUE;
  (void)::setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                     reinterpret_cast<const char*>(&yes), sizeof yes);
}

int ListenError(uint32_t address, uint16_t port) {
  SOCKET created = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (created == INVALID_SOCKET) return WSAGetLastError();
  MakeSoleListener(static_cast<std::uintptr_t>(created));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(address);
  local.sin_port = htons(port);
  int error = 0;
  if (::bind(created, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(created, 1) != 0) {
    error = WSAGetLastError();
  }
  ::closesocket(created);
  return error;
}

bool IsAddressInUseError(int socketError) { return socketError == WSAEADDRINUSE; }

}  // namespace halcyra::platform
