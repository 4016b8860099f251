// The keys of Halcyra.ini: where each one lives, its default, and the file the plug-in writes at its
// first start; and the checks of what a user wrote there (pure functions, no I/O).
//
// Values are read as the platform's profile reader gives them (trimmed, at most 511 characters).
// A user who writes a comment behind a value ("UDP=10600 ; the port") means the value alone, so a
// ";" that follows a blank (or opens the value) ends it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halcyra {

struct IniKey {
  const wchar_t* section;
  const wchar_t* key;
  const wchar_t* defaultValue;  // used when the key is missing or its value is wrong
  const char* writtenValue;     // what the first start writes (the default unless it says more)
  const char* comment;          // one line, written above the key
};

// Every key, in the order of the file the first start writes.
const std::vector<IniKey>& IniKeys();

// The text of the file the first start writes: every key with its written value and its comment.
std::string DefaultIniText();

// The value without a trailing comment (see above), trimmed.
std::wstring WithoutInlineComment(const std::wstring& value);

// A whole number in decimal: blanks around it and a sign are allowed, nothing else. Values beyond
// the int range are no whole number here.
std::optional<int> ParseWholeNumber(const std::wstring& text);

// Sections and keys of the INI text (UTF-8, or UTF-16 with its byte-order mark) that the plug-in does
// not know, each as a line that says so and what happens instead, e.g.
// "Halcyra.ini: unknown key HOTS in [HCS] is ignored (its keys: HOST, UDP)".
std::vector<std::string> UnknownIniEntries(const std::string& iniText);

}  // namespace halcyra
