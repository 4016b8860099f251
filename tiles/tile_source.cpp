#include "tile_source.h"

namespace halcyra::tiles {
namespace {

const char* const kFields[] = {"{name}", "{lat}", "{lon}"};

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::optional<std::string> SourceTemplate(const std::string& source, std::string* error) {
  if (source == kAwsSourceName) return std::string(kAwsTemplate);
  if (!StartsWith(source, "http://") && !StartsWith(source, "https://")) {
    *error =
        "--source needs \"aws\" or a URL template starting with http:// or https://, not \"" + source + "\"";
    return std::nullopt;
  }
  for (size_t open = source.find('{'); open != std::string::npos; open = source.find('{', open + 1)) {
    bool known = false;
    for (const char* field : kFields)
      known = known || source.compare(open, std::char_traits<char>::length(field), field) == 0;
    if (!known) {
      size_t close = source.find('}', open);
      *error = "--source: unknown field \"" +
               source.substr(open, close == std::string::npos ? 1 : close - open + 1) +
               "\" (the fields are {name}, {lat} and {lon})";
      return std::nullopt;
    }
  }
  bool hasName = source.find("{name}") != std::string::npos;
  bool hasParts = source.find("{lat}") != std::string::npos && source.find("{lon}") != std::string::npos;
  if (!hasName && !hasParts) {
    *error = "--source: the template names no square: it needs {name}, or {lat} and {lon}";
    return std::nullopt;
  }
  return source;
}

std::string TileUrl(const std::string& urlTemplate, const Square& square) {
  std::string url;
  for (size_t at = 0; at < urlTemplate.size();) {
    if (urlTemplate.compare(at, 6, "{name}") == 0) {
      url += SquareName(square);
      at += 6;
    } else if (urlTemplate.compare(at, 5, "{lat}") == 0) {
      url += LatitudePart(square);
      at += 5;
    } else if (urlTemplate.compare(at, 5, "{lon}") == 0) {
      url += LongitudePart(square);
      at += 5;
    } else {
      url += urlTemplate[at++];
    }
  }
  return url;
}

}  // namespace halcyra::tiles
