// Memory the plug-in hands to the client: allocated with malloc, as the client expects, and given
// back by the client through ts3plugin_freeMemory (free). Each piece is freed on its own.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace halcyra {

// A copy of the entries, each allocated on its own, in an allocated array of pointers ended by a
// null pointer. Null when memory runs out (nothing is left allocated then).
template <typename Entry>
Entry** AllocateNullEndedArray(const std::vector<Entry>& entries) {
  auto** array = static_cast<Entry**>(std::malloc((entries.size() + 1) * sizeof(Entry*)));
  if (array == nullptr) return nullptr;
  for (size_t i = 0; i < entries.size(); ++i) {
    array[i] = static_cast<Entry*>(std::malloc(sizeof(Entry)));
    if (array[i] == nullptr) {
      for (size_t j = 0; j < i; ++j) std::free(array[j]);
      std::free(array);
      return nullptr;
    }
    std::memcpy(array[i], &entries[i], sizeof(Entry));
  }
  array[entries.size()] = nullptr;
  return array;
}

// An allocated, zero-terminated copy of text; null when memory runs out.
inline char* AllocateText(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Copies text into a fixed field of the client's structures, cut to fit and terminated.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
  field[N - 1] = '\0';
}

}  // namespace halcyra
