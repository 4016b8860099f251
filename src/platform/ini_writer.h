// Writing one value of an INI file the way a person edits it: the key's line keeps its place, its
// blanks and its comment, and every other byte of the file stays as it was. Looked up as the
// profile reader looks values up (sections and keys case-insensitive, the first matching section
// and key win), so the value written is the one read back. A ';' that follows a blank (or opens
// the value) starts a comment behind the value, which is kept.
//
// The text may be UTF-8 (with or without a byte-order mark) or UTF-16 little-endian with its
// byte-order mark, as Notepad saves it; the result keeps the text's encoding and line ends.
#pragma once

#include <filesystem>
#include <string>

namespace halcyra::platform {

// The INI text with the value of key in section set to value (section, key and value ASCII):
// replaced in place when the key is there; else a line "key=value" after the last key of the
// section; else the section with the key at the end of the text.
std::string SetIniValue(const std::string& iniText, const std::string& section, const std::string& key,
                        const std::string& value);

// Sets the value in the file (made when it does not exist). The file is replaced whole by the new
// text, never left half written. False with the reason when it cannot be read or written (also when
// it is marked read-only or another program holds it).
[[nodiscard]] bool WriteIniValue(const std::filesystem::path& file, const std::string& section,
                                 const std::string& key, const std::string& value, std::string* reason);

}  // namespace halcyra::platform
