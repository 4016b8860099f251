#include "foundation/log.h"

#include <cstdio>

#include "foundation/format.h"

namespace halcyra {
namespace {

std::string_view Bounded(std::string_view text) {
  return text.size() < Clog::kTextCapacity ? text : text.substr(0, Clog::kTextCapacity - 1);
}

// What an entry costs beside its texts: the entry, its strings and the queue's share.
constexpr size_t kEntryOverheadBytes = 128;

constexpr char kDroppedTag[] = "Clog::Write";

std::string DroppedText(int dropped) {
  return Format("%d lines dropped: the log could not write them as fast as they came", dropped);
}

void AppendBody(std::string& line, std::string_view tag, std::string_view text) {
  line.append(tag);
  if (!text.empty()) {
    line.append(" : ");
    line.append(text);
  }
  line.push_back('\n');
}

}  // namespace

size_t Clog::Entry::Bytes() const { return prefix.size() + tag.size() + text.size() + kEntryOverheadBytes; }

Clog::Clog(platform::Env& env) : env_(env) {}

// Lines still queued are written before the closing line rather than lost, so the last messages
// before a shutdown (often the interesting ones) reach the file.
Clog::~Clog() {
  StopWriter();
  if (setUp_.load()) {
    static_cast<void>(WriteQueuedBatch(platform::StopToken()));  // what cannot be written now is lost
    int dropped = 0;
    {
      platform::MutexLock lock(queueLock_);
      std::swap(dropped, dropped_);
    }
    if (dropped > 0) WriteDirect(kDroppedTag, DroppedText(dropped), 0);
    WriteDirect("~Clog", "Close log file.", 0);
  }
  platform::MutexLock lock(queueLock_);
  queue_.clear();
  queuedBytes_ = 0;
}

int Clog::Init(const std::wstring& fileName, int level) {
  StopWriter();
  suspended_ = true;
  queued_ = false;
  level_ = 0;
  {
    platform::MutexLock lock(queueLock_);
    queue_.clear();
    queuedBytes_ = 0;
    dropped_ = 0;
  }
  std::FILE* file = env_.OpenFile(fileName, "w");
  if (file == nullptr) return -1;
  std::fclose(file);
  level_ = level;
  {
    platform::MutexLock lock(fileLock_);
    fileName_ = fileName;
  }
  setUp_ = true;

  queued_ = true;
  writerStop_ = platform::StopSource();
  writer_ = env_.StartThread([this, stop = writerStop_.Token()] { WriterLoop(stop); });
  uint64_t handle = writer_ ? writer_->HandleValue() : 0;
  uint32_t id = writer_ ? writer_->Id() : 0;
  WriteDirect(Format("Initialize Log file with %d level. Thread #%d (%08X)", level,
                     static_cast<int32_t>(static_cast<uint32_t>(handle)), id),
              "", 0);
  suspended_ = false;
  return 0;
}

std::string Clog::Prefix(int level) {
  platform::LocalTime now = env_.Now();
  char prefix[kPrefixCapacity];
  std::snprintf(prefix, sizeof prefix, "[%04d-%02d-%02d %02d:%02d:%02d.%03d][L%02d] ", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond, level);
  return prefix;
}

int Clog::Write(std::string_view tag, std::string_view text, int level) {
  if (level > level_.load() || suspended_.load()) return -1;
  if (!queued_.load()) return WriteDirect(tag, text, level);
  Entry entry{Prefix(level), std::string(Bounded(tag)), std::string(Bounded(text))};
  size_t bytes = entry.Bytes();
  platform::MutexLock lock(queueLock_);
  if (queuedBytes_ + bytes > kQueueCapacityBytes) {
    ++dropped_;
    return -1;
  }
  if (dropped_ > 0) QueueDroppedLineLocked();
  queue_.push_back(std::move(entry));
  queuedBytes_ += bytes;
  lineQueued_.NotifyAll();
  return 0;
}

// The line that stands where dropped messages would have been: it goes into the queue before the
// first message that fits again (the queue may exceed its capacity by this one line).
void Clog::QueueDroppedLineLocked() {
  Entry entry{Prefix(0), kDroppedTag, DroppedText(dropped_)};
  queuedBytes_ += entry.Bytes();
  queue_.push_back(std::move(entry));
  dropped_ = 0;
}

int Clog::Write(const std::wstring& tag, const std::wstring& text, int level) {
  if (level > level_.load() || suspended_.load()) return -1;
  return Write(platform::WideToUtf8(tag), platform::WideToUtf8(text), level);
}

int Clog::WriteDirect(std::string_view tag, std::string_view text, int level) {
  if (!setUp_.load()) return -1;
  platform::MutexLock fileLock(fileLock_);
  std::FILE* file = env_.OpenFile(fileName_, "a");
  if (file == nullptr) return -1;
  std::string line = Prefix(level);
  AppendBody(line, Bounded(tag), Bounded(text));
  std::fputs(line.c_str(), file);
  std::fclose(file);
  return 0;
}

int Clog::QueueCount() const {
  platform::MutexLock lock(queueLock_);
  return static_cast<int>(queue_.size());
}

size_t Clog::QueuedBytes() const {
  platform::MutexLock lock(queueLock_);
  return queuedBytes_;
}

// Sleeps until a line is queued (Write wakes it) or the stop; a file that cannot be opened is tried
// again after kRetryMs, so a missing file does not make the writer spin.
void Clog::WriterLoop(const platform::StopToken& stop) {
  platform::NameCurrentThread("Thread_Log");
  platform::StopCallback wake(stop, [this] {
    platform::MutexLock lock(queueLock_);
    lineQueued_.NotifyAll();
  });
  for (;;) {
    {
      platform::MutexLock lock(queueLock_);
      while (queue_.empty() && !stop.StopRequested()) lineQueued_.Wait(lock);
    }
    if (stop.StopRequested()) return;
    if (!WriteQueuedBatch(stop) && !stop.SleepFor(env_, kRetryMs)) return;
  }
}

// Appends the entries queued when the batch begins, oldest first, each with the number of entries
// still queued (itself included); what comes meanwhile waits for the next batch, so a steady stream
// of messages cannot keep one batch (and the file) open. Entries leave the queue only once the file
// holding them is closed, so a reader that sees an empty queue finds every line in the file; if the
// file cannot be opened the whole queue waits for the next try. The writer stops between two lines
// when asked to.
bool Clog::WriteQueuedBatch(const platform::StopToken& stop) {
  platform::MutexLock fileLock(fileLock_);
  size_t batch = static_cast<size_t>(QueueCount());
  if (batch == 0) return true;
  std::FILE* file = env_.OpenFile(fileName_, "a");
  if (file == nullptr) return false;
  size_t written = 0;
  while (written < batch && !stop.StopRequested()) {
    std::string line;
    {
      platform::MutexLock lock(queueLock_);
      const Entry& entry = queue_[written];
      char count[16];
      std::snprintf(count, sizeof count, "(%03d) ", static_cast<int>(queue_.size() - written));
      line = entry.prefix + count;
      AppendBody(line, entry.tag, entry.text);
    }
    std::fputs(line.c_str(), file);
    ++written;
  }
  std::fclose(file);
  platform::MutexLock lock(queueLock_);
  for (size_t i = 0; i < written; ++i) queuedBytes_ -= queue_[i].Bytes();
  queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(written));
  return true;
}

void Clog::Flush() { static_cast<void>(WriteQueuedBatch(platform::StopToken())); }

void Clog::StopWriter() {
  writerStop_.RequestStop();
  if (writer_) {
    writer_->Join();
    writer_.reset();
  }
}

int LogNarrow(Clog& log, std::string_view tag, std::string_view text, int level) {
  if (log.Suspended()) return -1;
  return log.Write(tag, text, level);
}

}  // namespace halcyra
