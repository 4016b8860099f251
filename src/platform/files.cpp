#include "platform/files.h"

#include <cctype>
#include <system_error>

namespace halcyra::platform {
namespace {

bool EndsWithIgnoringCase(const std::string& text, const std::string& suffix) {
  if (text.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    unsigned char a = static_cast<unsigned char>(text[text.size() - suffix.size() + i]);
    unsigned char b = static_cast<unsigned char>(suffix[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

}  // namespace

std::optional<size_t> CountFilesEndingWith(const std::filesystem::path& folder, const std::string& suffix) {
  std::error_code error;
  std::filesystem::directory_iterator entry(folder, error);
  if (error) return std::nullopt;
  size_t count = 0;
  for (; entry != std::filesystem::directory_iterator(); entry.increment(error)) {
    if (error) return std::nullopt;
    std::error_code typeError;
    if (entry->is_regular_file(typeError) &&
        EndsWithIgnoringCase(PathText(entry->path().filename()), suffix)) {
      ++count;
    }
  }
  if (error) return std::nullopt;
  return count;
}

}  // namespace halcyra::platform
