// Meanings and texts of the OS socket error codes that UdpSocket::LastError reports.
#pragma once

#include <string>

namespace halcyra::platform {

// True for the error a UDP receive reports after an earlier send reached a closed port
// (WSAECONNRESET on Windows; ECONNREFUSED elsewhere). The socket stays usable.
bool IsPortUnreachableError(int socketError);

// The OS's description of a socket error code, without a trailing line break.
std::string SocketErrorText(int socketError);

}  // namespace halcyra::platform
