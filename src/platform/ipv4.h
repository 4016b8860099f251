// Dotted IPv4 texts. Addresses are in host order: a.b.c.d = a << 24 | b << 16 | c << 8 | d.
#pragma once

#include <cstdint>
#include <string>

namespace halcyra {

inline constexpr uint32_t kLoopbackAddress = 0x7F000001;  // 127.0.0.1

// Accepts exactly four decimal parts of 1 to 3 digits, each 0..255, and nothing else.
bool ParseDottedIPv4(const std::string& text, uint32_t* address);
std::string FormatDottedIPv4(uint32_t address);

}  // namespace halcyra
