// PluginLifecycle: the plug-in as the host sees it through its exports - the host function table,
// the start and stop sequences, and the hand-over of each event to the started runtime.
//
// Start and stop run on the host's main thread, events on any of its threads. The runtime is built
// and started outside any lock and only then published (under lock_, held just to copy or swap the
// pointer), so an event that arrives while the plug-in starts finds no runtime and is ignored
// instead of waiting for the start. An event holds the runtime it got for as long as it runs; the
// stop takes the runtime away first, so no event starts on a runtime that is stopping. lock_ is a
// leaf: nothing is called while it is held.
#pragma once

#include <memory>

#include "foundation/host_abi.h"
#include "platform/env.h"
#include "platform/mutex.h"
#include "plugin/runtime.h"

namespace halcyra {

class PluginLifecycle {
 public:
  explicit PluginLifecycle(platform::Env& env) : env_(env) {}
  ~PluginLifecycle() { Shutdown(); }

  PluginLifecycle(const PluginLifecycle&) = delete;
  PluginLifecycle& operator=(const PluginLifecycle&) = delete;

  // Keeps a copy of the host's table for the next start.
  void SetFunctionPointers(const TS3Functions& functions);
  // The start sequence: 0 = started, 1 = failed. A plug-in still started is stopped first.
  int Init() EXCLUDES(lock_);
  // The stop sequence; returns within about a second whatever happens around it.
  void Shutdown() EXCLUDES(lock_);

  // Runs handler(runtime) when a started runtime is there; otherwise does nothing.
  template <typename Handler>
  void Deliver(Handler handler) EXCLUDES(lock_) {
    std::shared_ptr<PluginRuntime> runtime = Running();
    if (runtime) handler(*runtime);
  }

 private:
  std::shared_ptr<PluginRuntime> Running() EXCLUDES(lock_);

  platform::Env& env_;
  TS3Functions host_{};  // written by SetFunctionPointers (host main thread, before Init)
  platform::Mutex lock_;
  std::shared_ptr<PluginRuntime> runtime_ GUARDED_BY(lock_);
};

}  // namespace halcyra
