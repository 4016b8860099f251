// Reading of private-profile (INI) text, with the behaviour of the Windows profile API:
// sections and keys match case-insensitively, the first matching section and key win, values are
// trimmed of blanks and of one pair of enclosing quotes, and values are cut to 511 characters
// (a 512-character buffer with its terminator). Used by the POSIX platform layer; pure logic.
#pragma once

#include <string>

namespace halcyra::platform {

inline constexpr size_t kIniValueCapacity = 512;  // characters, terminator included

// Looks key up in section of the INI text (UTF-8, an optional byte-order mark is skipped).
// Returns false when the section or key is missing; value is then untouched.
bool FindIniValue(const std::string& iniText, const std::wstring& section, const std::wstring& key,
                  std::wstring* value);

// Blanks as the profile API sees them (space, tab, line ends, vertical tab, form feed), and a text
// without those around it.
bool IsIniBlank(wchar_t c);
std::wstring TrimIniBlanks(const std::wstring& text);

// The default-value rule of the profile API: trimmed and cut like a value read from the file.
std::wstring NormaliseIniValue(const std::wstring& value);

}  // namespace halcyra::platform
