// Clog: the plug-in's one diagnostic log file.
//
// Lines carry the prefix "[YYYY-MM-DD hh:mm:ss.mmm][Lnn] " with the message level. A message is
// written only when its level is at most the configured LOGLEVEL. After Init the log is queued:
// callers on any thread only format the prefix and append to an in-memory queue, and the writer
// thread Thread_Log appends the lines to the file (opened and closed for every batch, so the file
// can be read while the plug-in runs). The set-up and closing lines are written directly. The
// writer sleeps until a line is queued or it is told to stop: an idle log never wakes. A file that
// cannot be opened is tried again every kRetryMs (on the Env clock) while lines wait.
//
// Memory stays bounded whatever the callers do: a batch writes only what was queued when it began,
// and the queue holds at most kQueueCapacityBytes; messages beyond that are dropped, and one level
// 0 line in their place says how many.
//
// Text is 8-bit: tags and texts are bytes (UTF-8 for names from the host); wide texts (paths,
// INI values) are converted to UTF-8. Lines end with CR LF on Windows, LF elsewhere.
//
// Lock order: any lock of the plug-in may be held while it logs, so the log's locks come last of
// all; while it holds them the log calls nothing but the Env's clock and files, and asks the writer's
// StopToken (a leaf) whether it is stopping. Of its own two, fileLock_ comes before queueLock_ (a
// batch reads the queue while it has the file open).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include "platform/env.h"
#include "platform/mutex.h"
#include "platform/stop.h"

namespace halcyra {

class Clog {
 public:
  static constexpr size_t kTextCapacity = 1024;           // tag and text: at most 1023 characters
  static constexpr size_t kPrefixCapacity = 128;          // prefix: at most 127 characters
  static constexpr size_t kQueueCapacityBytes = 4 << 20;  // texts of the queued messages
  static constexpr uint32_t kRetryMs = 20;                // between two tries of a file that cannot be opened

  // Empty log: direct mode, not suspended, level 0, no file (every message is dropped).
  explicit Clog(platform::Env& env);
  // Stops Thread_Log, writes what is still queued and then the closing line (if set up).
  ~Clog();

  Clog(const Clog&) = delete;
  Clog& operator=(const Clog&) = delete;

  // Creates (truncates) the file, starts Thread_Log and writes the set-up line. Returns 0, or -1
  // when the file cannot be created: the log then stays suspended and writes nothing. Every later
  // line goes to the file opened here, whatever the length of its path. A second Init stops the
  // writer of the first (after the batch it is writing) before it starts again.
  int Init(const std::wstring& fileName, int level) EXCLUDES(queueLock_, fileLock_);

  // Writes or queues one message. Returns 0, or -1 when dropped (level above LOGLEVEL, log
  // suspended, no file in direct mode, or the queue full).
  int Write(std::string_view tag, std::string_view text, int level) EXCLUDES(queueLock_, fileLock_);
  int Write(const std::wstring& tag, const std::wstring& text, int level) EXCLUDES(queueLock_, fileLock_);

  // Writes one line at once, bypassing the queue and the suspended flag. 0, or -1 on failure.
  int WriteDirect(std::string_view tag, std::string_view text, int level) EXCLUDES(fileLock_);

  // Writes every queued line to the file from the calling thread (after a batch Thread_Log is
  // writing): when it returns, each line queued before the call is in the file, unless the file
  // cannot be opened (the lines then stay queued).
  void Flush() EXCLUDES(queueLock_, fileLock_);

  bool Suspended() const { return suspended_.load(std::memory_order_relaxed); }
  int Level() const { return level_.load(std::memory_order_relaxed); }
  // Detailed messages are formatted only when LOGLEVEL is at least 3.
  bool Detailed() const { return Level() >= 3; }
  // True when a message of this level would be kept.
  bool Accepts(int level) const { return !Suspended() && level <= Level(); }
  bool IsSetUp() const { return setUp_.load(std::memory_order_acquire); }
  int QueueCount() const EXCLUDES(queueLock_);
  size_t QueuedBytes() const EXCLUDES(queueLock_);

 private:
  struct Entry {
    std::string prefix;
    std::string tag;
    std::string text;
    size_t Bytes() const;
  };

  std::string Prefix(int level);
  void WriterLoop(const platform::StopToken& stop) EXCLUDES(queueLock_, fileLock_);
  // Writes the lines queued when it begins; one that `stop` stops ends the batch early. False when
  // the file could not be opened (the lines stay queued).
  [[nodiscard]] bool WriteQueuedBatch(const platform::StopToken& stop) EXCLUDES(queueLock_, fileLock_);
  void QueueDroppedLineLocked() REQUIRES(queueLock_);
  void StopWriter();

  platform::Env& env_;
  std::atomic<bool> suspended_{false};
  std::atomic<bool> queued_{false};  // false = direct mode
  std::atomic<int> level_{0};
  std::atomic<bool> setUp_{false};  // the file exists and the set-up line was written

  mutable platform::Mutex queueLock_ ACQUIRED_AFTER(fileLock_);
  std::deque<Entry> queue_ GUARDED_BY(queueLock_);
  size_t queuedBytes_ GUARDED_BY(queueLock_) = 0;  // Entry::Bytes() of every queued entry
  int dropped_ GUARDED_BY(queueLock_) = 0;         // messages dropped since the last dropped-lines line
  platform::ConditionVariable lineQueued_;         // with queueLock_: a line was queued, or the stop

  platform::Mutex fileLock_;                     // held while Thread_Log or WriteDirect has the file open
  std::wstring fileName_ GUARDED_BY(fileLock_);  // set by Init

  // Owned by the thread that calls Init and the destructor (the plug-in's start and teardown).
  platform::StopSource writerStop_;
  std::unique_ptr<platform::Thread> writer_;
};

// Logs an 8-bit text: -1 when the log is suspended, else Clog::Write.
int LogNarrow(Clog& log, std::string_view tag, std::string_view text, int level);

}  // namespace halcyra
