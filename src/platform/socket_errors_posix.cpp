#include <cerrno>
#include <system_error>

#include "platform/socket_errors.h"

namespace halcyra::platform {

bool IsPortUnreachableError(int socketError) { return socketError == ECONNREFUSED; }

std::string SocketErrorText(int socketError) { return std::generic_category().message(socketError); }

}  // namespace halcyra::platform
