#include "tile_body.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <vector>

namespace halcyra::tiles {
namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kSrtm1Size = 3601;
constexpr int kSrtm3Size = 1201;
constexpr int kStep = 3;  // SRTM1 rows and columns per SRTM3 one
constexpr size_t kSniffBytes = 512;

// Takes the decompressed bytes in order and keeps both readings of them: the bytes themselves
// while they fit an SRTM3 tile, and the SRTM3 grid of an SRTM1 tile (every third sample of every
// third row). Which one is the tile shows when the total is known.
class GridSink {
 public:
  GridSink() : srtm3_(), grid_(kSrtm3Bytes, '\0') { srtm3_.reserve(kSrtm3Bytes); }

  // False once more bytes came than an SRTM1 tile holds.
  bool Take(const unsigned char* data, size_t size) {
    if (total_ + size > kSrtm1Bytes) {
      total_ += size;
      return false;
    }
    size_t fits = std::min(size, kSrtm3Bytes - std::min(kSrtm3Bytes, srtm3_.size()));
    srtm3_.append(reinterpret_cast<const char*>(data), fits);
    for (size_t i = 0; i < size; ++i) {
      if (row_ % kStep == 0 && column_ % kStep == 0) {
        size_t sample = static_cast<size_t>(row_ / kStep) * kSrtm3Size + static_cast<size_t>(column_ / kStep);
        grid_[sample * 2 + byte_] = static_cast<char>(data[i]);
      }
      if (++byte_ == 2) {
        byte_ = 0;
        if (++column_ == kSrtm1Size) {
          column_ = 0;
          ++row_;
        }
      }
    }
    total_ += size;
    return true;
  }

  unsigned long long total() const { return total_; }
  // The first bytes, for telling what a wrong body was.
  const std::string& start() const { return srtm3_; }

  std::optional<std::string> Grid(std::string* kind) {
    if (total_ == kSrtm3Bytes) {
      *kind = "SRTM3 tile";
      return std::move(srtm3_);
    }
    if (total_ == kSrtm1Bytes) {
      *kind = "SRTM1 tile, stored at SRTM3 spacing";
      return std::move(grid_);
    }
    return std::nullopt;
  }

 private:
  std::string srtm3_;
  std::string grid_;
  unsigned long long total_ = 0;
  int row_ = 0;
  int column_ = 0;
  int byte_ = 0;
};

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A web page (an error page sent with status 200) begins with markup; its first words say what
// went wrong.
std::optional<std::string> WebPageReason(const std::string& start) {
  std::string head = Lower(start.substr(0, kSniffBytes));
  size_t first = head.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || head[first] != '<') return std::nullopt;
  if (head.find("<html") == std::string::npos && head.find("<!doctype") == std::string::npos &&
      head.find("<?xml") == std::string::npos && head.find("<error") == std::string::npos) {
    return std::nullopt;
  }
  std::string words;
  for (size_t i = first; i < start.size() && i < kSniffBytes && words.size() < 60; ++i) {
    unsigned char c = static_cast<unsigned char>(start[i]);
    if (c >= 0x20 && c < 0x7F) {
      words += static_cast<char>(c);
    } else if (!words.empty() && words.back() != ' ') {
      words += ' ';
    }
  }
  return "the server sent a web page, not a tile (it begins \"" + words + "\")";
}

std::string SizeReason(const GridSink& sink, const char* after) {
  if (sink.total() == 0) return std::string("the body is empty") + after;
  if (std::optional<std::string> page = WebPageReason(sink.start())) return *page;
  std::string reason = WithThousands(sink.total()) + " bytes" + after + ": neither an SRTM3 tile (" +
                       WithThousands(kSrtm3Bytes) + " bytes) nor an SRTM1 tile (" +
                       WithThousands(kSrtm1Bytes) + " bytes)";
  if (sink.total() > kSrtm1Bytes)
    return WithThousands(kSrtm1Bytes) + "+ bytes" + after + ": larger than any tile";
  return reason + (sink.total() < kSrtm1Bytes ? ", truncated?" : "");
}

class BodyFile {
 public:
  explicit BodyFile(const std::filesystem::path& path) : stream_(path, std::ios::binary) {
    std::error_code error;
    size_ = std::filesystem::file_size(path, error);
    if (error) size_ = 0;
  }
  bool ok() const { return static_cast<bool>(stream_); }
  unsigned long long size() const { return size_; }
  // Reads up to capacity bytes from the current position; 0 at the end.
  size_t Read(unsigned char* buffer, size_t capacity) {
    stream_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(capacity));
    return static_cast<size_t>(stream_.gcount());
  }
  bool ReadAt(unsigned long long offset, unsigned char* buffer, size_t size) {
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    return Read(buffer, size) == size;
  }
  void Rewind() {
    stream_.clear();
    stream_.seekg(0);
  }

 private:
  std::ifstream stream_;
  unsigned long long size_ = 0;
};

// Inflates `limit` bytes of the file from its current position (all of the rest when limit is
// null) with the given window bits: 16 + 15 for gzip, -15 for the raw deflate data of a zip entry.
bool Inflate(BodyFile& file, int windowBits, const unsigned long long* limit, GridSink& sink,
             const char* what, std::string* reason) {
  z_stream stream{};
  if (inflateInit2(&stream, windowBits) != Z_OK) {
    *reason = "cannot start zlib";
    return false;
  }
  std::vector<unsigned char> in(kChunk);
  std::vector<unsigned char> out(kChunk);
  unsigned long long left = limit ? *limit : ~0ULL;
  bool ended = false;
  bool needInput = true;
  for (;;) {
    if (needInput) {
      size_t got =
          left == 0 ? 0
                    : file.Read(in.data(), static_cast<size_t>(std::min<unsigned long long>(kChunk, left)));
      if (got == 0) break;
      left -= got;
      stream.next_in = in.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      *reason = std::string("broken ") + what + " data (" + (stream.msg ? stream.msg : "zlib error") + ")";
      inflateEnd(&stream);
      return false;
    }
    if (!sink.Take(out.data(), out.size() - stream.avail_out)) {
      *reason = SizeReason(sink, " after decompression");
      inflateEnd(&stream);
      return false;
    }
    if (status == Z_STREAM_END) {
      ended = true;
      break;
    }
    // A full output buffer may leave output pending: inflate again before reading on.
    needInput = stream.avail_in == 0 && stream.avail_out != 0;
  }
  inflateEnd(&stream);
  if (!ended) {
    *reason = std::string("the ") + what + " data ends early (after " + WithThousands(sink.total()) +
              " bytes decompressed): a truncated download?";
    return false;
  }
  return true;
}

uint32_t Le16(const unsigned char* p) { return p[0] | (p[1] << 8); }
uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct ZipEntry {
  std::string name;
  uint32_t method = 0;
  uint32_t flags = 0;
  unsigned long long compressedSize = 0;
  unsigned long long localHeader = 0;
};

bool EndsWithHgt(const std::string& name) {
  return name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".hgt";
}

std::string BaseName(const std::string& name) {
  size_t slash = name.find_last_of("/\\");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

// The archive's directory at its end: its entries' names, methods, sizes and places.
bool ReadZipDirectory(BodyFile& file, std::vector<ZipEntry>* entries, std::string* reason) {
  constexpr size_t kEndRecord = 22;
  constexpr size_t kLongestComment = 0xFFFF;
  unsigned long long size = file.size();
  size_t tail = static_cast<size_t>(std::min<unsigned long long>(size, kEndRecord + kLongestComment));
  std::vector<unsigned char> end(tail);
  if (tail < kEndRecord || !file.ReadAt(size - tail, end.data(), tail)) {
    *reason = "the zip archive is cut off (no directory at its end): a truncated download?";
    return false;
  }
  size_t at = tail - kEndRecord + 1;
  bool found = false;
  while (at-- > 0) {
    if (Le32(&end[at]) == 0x06054b50) {
      found = true;
      break;
    }
  }
  if (!found) {
    *reason = "the zip archive is cut off (no directory at its end): a truncated download?";
    return false;
  }
  uint32_t count = Le16(&end[at + 10]);
  uint32_t directorySize = Le32(&end[at + 12]);
  uint32_t directoryOffset = Le32(&end[at + 16]);
  if (static_cast<unsigned long long>(directoryOffset) + directorySize > size) {
    *reason = "the zip archive's directory lies beyond its end: a truncated download?";
    return false;
  }
  std::vector<unsigned char> directory(directorySize);
  if (directorySize > 0 && !file.ReadAt(directoryOffset, directory.data(), directorySize)) {
    *reason = "cannot read the zip archive's directory";
    return false;
  }
  size_t p = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (p + 46 > directory.size() || Le32(&directory[p]) != 0x02014b50) {
      *reason = "the zip archive's directory is broken";
      return false;
    }
    ZipEntry entry;
    entry.flags = Le16(&directory[p + 8]);
    entry.method = Le16(&directory[p + 10]);
    entry.compressedSize = Le32(&directory[p + 20]);
    uint32_t nameLength = Le16(&directory[p + 28]);
    uint32_t extraLength = Le16(&directory[p + 30]);
    uint32_t commentLength = Le16(&directory[p + 32]);
    entry.localHeader = Le32(&directory[p + 42]);
    if (p + 46 + nameLength > directory.size()) {
      *reason = "the zip archive's directory is broken";
      return false;
    }
    entry.name.assign(reinterpret_cast<const char*>(&directory[p + 46]), nameLength);
    entries->push_back(entry);
    p += 46 + nameLength + extraLength + commentLength;
  }
  return true;
}

// The .hgt entry named after the square, else the only .hgt entry.
const ZipEntry* PickEntry(const std::vector<ZipEntry>& entries, const std::string& squareName,
                          std::string* reason) {
  const ZipEntry* only = nullptr;
  int tiles = 0;
  for (const ZipEntry& entry : entries) {
    if (!EndsWithHgt(entry.name)) continue;
    if (Lower(BaseName(entry.name)) == Lower(squareName + ".hgt")) return &entry;
    only = &entry;
    ++tiles;
  }
  if (tiles == 1) return only;
  *reason = tiles == 0 ? "the zip archive holds no .hgt file"
                       : "the zip archive holds several .hgt files, none named " + squareName + ".hgt";
  return nullptr;
}

bool DecodeZip(BodyFile& file, const std::string& squareName, GridSink& sink, std::string* reason) {
  std::vector<ZipEntry> entries;
  if (!ReadZipDirectory(file, &entries, reason)) return false;
  const ZipEntry* entry = PickEntry(entries, squareName, reason);
  if (entry == nullptr) return false;
  std::string named = " (" + entry->name + " in the zip archive)";
  if (entry->flags & 1) {
    *reason = "the zip entry is encrypted" + named;
    return false;
  }
  if (entry->compressedSize == 0xFFFFFFFFULL || entry->localHeader == 0xFFFFFFFFULL) {
    *reason = "the zip entry is in the ZIP64 form, which is not read" + named;
    return false;
  }
  unsigned char header[30];
  if (!file.ReadAt(entry->localHeader, header, sizeof header) || Le32(header) != 0x04034b50) {
    *reason = "the zip archive is broken: no entry where its directory says" + named;
    return false;
  }
  unsigned long long data = entry->localHeader + 30 + Le16(&header[26]) + Le16(&header[28]);
  if (data + entry->compressedSize > file.size()) {
    *reason = "the zip entry runs beyond the archive's end" + named;
    return false;
  }
  file.ReadAt(data, header, 0);  // positions the stream at the data
  if (entry->method == 8) {
    if (!Inflate(file, -MAX_WBITS, &entry->compressedSize, sink, "deflate", reason)) {
      *reason += named;
      return false;
    }
    return true;
  }
  if (entry->method != 0) {
    *reason =
        "the zip entry uses compression method " + std::to_string(entry->method) + ", not deflate" + named;
    return false;
  }
  std::vector<unsigned char> buffer(kChunk);
  for (unsigned long long left = entry->compressedSize; left > 0;) {
    size_t got = file.Read(buffer.data(), static_cast<size_t>(std::min<unsigned long long>(kChunk, left)));
    if (got == 0) break;
    left -= got;
    if (!sink.Take(buffer.data(), got)) break;
  }
  return true;
}

bool CopyPlain(BodyFile& file, GridSink& sink) {
  std::vector<unsigned char> buffer(kChunk);
  while (size_t got = file.Read(buffer.data(), buffer.size())) {
    if (!sink.Take(buffer.data(), got)) return false;
  }
  return true;
}

}  // namespace

std::string WithThousands(unsigned long long value) {
  std::string digits = std::to_string(value);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

std::optional<DecodedTile> DecodeTileBody(const std::filesystem::path& body, const std::string& squareName,
                                          std::string* reason) {
  BodyFile file(body);
  if (!file.ok()) {
    *reason = "cannot read the downloaded file";
    return std::nullopt;
  }
  unsigned char magic[4] = {0, 0, 0, 0};
  size_t got = file.Read(magic, sizeof magic);
  file.Rewind();
  GridSink sink;
  std::string wrapper;
  const char* after = "";
  bool decoded = false;
  if (got >= 2 && magic[0] == 0x1f && magic[1] == 0x8b) {
    wrapper = "gzip of an ";
    after = " after decompression";
    decoded = Inflate(file, 16 + MAX_WBITS, nullptr, sink, "gzip", reason);
  } else if (got == 4 && Le32(magic) == 0x04034b50) {
    wrapper = "zip of an ";
    after = " in the zip archive";
    decoded = DecodeZip(file, squareName, sink, reason);
  } else {
    decoded = CopyPlain(file, sink);
    if (!decoded) *reason = SizeReason(sink, "");
  }
  if (!decoded) return std::nullopt;
  DecodedTile tile;
  std::optional<std::string> grid = sink.Grid(&tile.kind);
  if (!grid) {
    *reason = SizeReason(sink, after);
    return std::nullopt;
  }
  tile.samples = std::move(*grid);
  tile.kind = wrapper + tile.kind;
  return tile;
}

}  // namespace halcyra::tiles
