// Where the configuration delivers the elevation tile folder at start (the tile store implements
// it, and forgets its loaded tiles).
#pragma once

#include <string>

namespace halcyra {

class TileFolderSink {
 public:
  virtual ~TileFolderSink() = default;
  virtual void SetTileFolder(const std::string& folderUtf8) = 0;
};

}  // namespace halcyra
