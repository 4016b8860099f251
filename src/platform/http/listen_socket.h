// The listening socket of the HTTP server: one listener per port, and why a port cannot be had.
#pragma once

#include <cstdint>
#include <string>

namespace halcyra::platform {

// Sets the options of a TCP socket about to be bound as a listener so that it is the port's only
// listener: a second program that asks for the same port is refused instead of sharing it.
// socket is the OS socket (a file descriptor on POSIX, a SOCKET on Windows). A restart right
// after a clean stop still binds while the old connections wait out TIME_WAIT (POSIX).
void MakeSoleListener(std::uintptr_t socket);

// The OS error a TCP listener on the IPv4 address (host order) and port meets now, 0 when it would
// be bound, found by binding one with the options above and closing it again.
[[nodiscard]] int ListenError(uint32_t address, uint16_t port);

// True for the error of a port that another socket already listens on.
[[nodiscard]] bool IsAddressInUseError(int socketError);

}  // namespace halcyra::platform
