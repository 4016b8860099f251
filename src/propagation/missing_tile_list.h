// MissingTileList: the squares a session found without an elevation tile, kept in
// missing-tiles.txt beside the INI file for "halcyra-tiles --missing".
//
// The file holds one square name a line ("N42E041"), each name once: before it appends, the writer
// reads the file, so a name already there (from an earlier session, or written by hand) is not
// added again. Names are handed over by look-ups that may run inside the host's voice callback, so
// Add only queues the name; a thread of the list's own (started by Start, stopped by Stop) does the
// file work.
//
// Guarding: lock_ guards the queue and the writer's state. It is taken while the tile store holds
// its tile lock, and nothing is called while it is held but the condition variable: a leaf.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "foundation/log.h"
#include "platform/env.h"
#include "platform/mutex.h"

namespace halcyra {

class MissingTileList {
 public:
  MissingTileList(platform::Env& env, Clog& log);
  ~MissingTileList();  // Stop()

  MissingTileList(const MissingTileList&) = delete;
  MissingTileList& operator=(const MissingTileList&) = delete;

  // Starts the writer for the file (a full path). A second Start does nothing.
  void Start(const std::wstring& file) EXCLUDES(lock_);
  // Queues one square name; does nothing before Start or after Stop. Never waits for the file.
  void Add(const std::string& name) EXCLUDES(lock_);
  // Writes what is still queued, then stops the writer. Safe to call twice.
  void Stop() EXCLUDES(lock_);

 private:
  void WriterLoop() EXCLUDES(lock_);
  // Appends the names the file does not hold yet; false when the file cannot be written.
  bool Append(const std::vector<std::string>& names);

  platform::Env& env_;
  Clog& log_;
  std::wstring file_;  // set by Start before the writer runs, read only by it

  platform::Mutex lock_;  // a leaf
  platform::ConditionVariable wake_;
  std::vector<std::string> queue_ GUARDED_BY(lock_);
  bool accepting_ GUARDED_BY(lock_) = false;  // between Start and Stop
  bool stopping_ GUARDED_BY(lock_) = false;
  std::unique_ptr<platform::Thread> writer_;  // started and joined by the thread that runs Start and Stop
};

}  // namespace halcyra
