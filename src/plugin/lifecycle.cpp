#include "plugin/lifecycle.h"

namespace halcyra {

void PluginLifecycle::SetFunctionPointers(const TS3Functions& functions) { host_ = functions; }

std::shared_ptr<PluginRuntime> PluginLifecycle::Running() {
  platform::MutexLock guard(lock_);
  return runtime_;
}

int PluginLifecycle::Init() {
  Shutdown();
  auto runtime = std::make_shared<PluginRuntime>(env_, host_);
  if (runtime->Start() != 0) return 1;
  platform::MutexLock guard(lock_);
  runtime_ = std::move(runtime);
  return 0;
}

// The runtime goes here unless an event still holds it; that event then releases it.
void PluginLifecycle::Shutdown() {
  std::shared_ptr<PluginRuntime> runtime;
  {
    platform::MutexLock guard(lock_);
    runtime = std::move(runtime_);
  }
  if (runtime) runtime->Stop();
}

}  // namespace halcyra
