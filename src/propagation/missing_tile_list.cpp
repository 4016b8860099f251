#include "propagation/missing_tile_list.h"

#include <cstdio>
#include <set>

namespace halcyra {
namespace {

constexpr char kTag[] = "MissingTileList";
constexpr size_t kReadChunk = 4096;

// The names a list file holds, one a line (CR LF or LF), blanks around them ignored.
std::set<std::string> NamesIn(std::FILE* file, bool* endsWithLineBreak) {
  std::string content;
  char chunk[kReadChunk];
  size_t read = 0;
  while ((read = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, read);
  *endsWithLineBreak = content.empty() || content.back() == '\n';
  std::set<std::string> names;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string line = content.substr(start, end - start);
    size_t first = line.find_first_not_of(" \t\r");
    if (first != std::string::npos)
      names.insert(line.substr(first, line.find_last_not_of(" \t\r") - first + 1));
    start = end + 1;
  }
  return names;
}

}  // namespace

MissingTileList::MissingTileList(platform::Env& env, Clog& log) : env_(env), log_(log) {}

MissingTileList::~MissingTileList() { Stop(); }

void MissingTileList::Start(const std::wstring& file) {
  if (writer_) return;
  file_ = file;
  {
    platform::MutexLock lock(lock_);
    accepting_ = true;
    stopping_ = false;
  }
  writer_ = env_.StartThread([this] { WriterLoop(); });
  if (!writer_) {
    {
      platform::MutexLock lock(lock_);
      accepting_ = false;
    }
    log_.Write(kTag, "Cannot start the thread that records missing elevation tiles", 0);
  }
}

void MissingTileList::Add(const std::string& name) {
  {
    platform::MutexLock lock(lock_);
    if (!accepting_) return;
    queue_.push_back(name);
  }
  wake_.NotifyAll();
}

void MissingTileList::Stop() {
  {
    platform::MutexLock lock(lock_);
    accepting_ = false;
    stopping_ = true;
  }
  wake_.NotifyAll();
  if (writer_) writer_->Join();
  writer_.reset();
}

// Takes whatever is queued and writes it, until Stop; what was queued before Stop is written too.
// After a failure to write it says so once and drops the names of this session: the file is the
// user's to fix, and the log lines name the squares anyway.
void MissingTileList::WriterLoop() {
  platform::NameCurrentThread("Thread_MissingTiles");
  bool failed = false;
  for (;;) {
    std::vector<std::string> names;
    bool stopping = false;
    {
      platform::MutexLock lock(lock_);
      while (queue_.empty() && !stopping_) wake_.Wait(lock);
      names.swap(queue_);
      stopping = stopping_;
    }
    if (!names.empty() && !failed && !Append(names)) {
      failed = true;
      log_.Write(kTag,
                 "Cannot write " + platform::WideToUtf8(file_) +
                     ": the squares without a tile are not recorded for halcyra-tiles --missing",
                 0);
    }
    if (stopping) return;
  }
}

bool MissingTileList::Append(const std::vector<std::string>& names) {
  std::set<std::string> present;
  bool endsWithLineBreak = true;
  if (std::FILE* existing = env_.OpenFile(file_, "rb")) {
    present = NamesIn(existing, &endsWithLineBreak);
    std::fclose(existing);
  }
  std::string added = endsWithLineBreak ? "" : "\n";
  for (const std::string& name : names) {
    if (present.insert(name).second) added += name + "\n";
  }
  if (added.find_first_not_of('\n') == std::string::npos) return true;
  // Text mode: lines end as the system's text files do (CR LF on Windows).
  std::FILE* file = env_.OpenFile(file_, "a");
  if (file == nullptr) return false;
  bool written = std::fwrite(added.data(), 1, added.size(), file) == added.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace halcyra
