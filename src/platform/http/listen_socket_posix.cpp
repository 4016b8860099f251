#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/http/listen_socket.h"

namespace halcyra::platform {

// SO_REUSEADDR alone: on Linux it lets a listener bind over connections in TIME_WAIT but never
// beside another listener. SO_REUSEPORT is left off, since it would let a second server share the
// port and take every other connection.
void MakeSoleListener(std::uintptr_t socket) {
  int yes = 1;
  (void)::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

int ListenError(uint32_t address, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  MakeSoleListener(static_cast<std::uintptr_t>(fd));
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(address);
  local.sin_port = htons(port);
  int error = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(fd, 1) != 0) {
    error = errno;
  }
  ::close(fd);
  return error;
}

bool IsAddressInUseError(int socketError) { return socketError == EADDRINUSE; }

}  // namespace halcyra::platform
