#include "host_functions.h"

#include <cstdlib>
#include <cstring>

namespace halcyra::testing {
namespace {

// The answer of a table whose host went away (a call after the program's host was destroyed).
constexpr unsigned int kNoHost = 1;

platform::Mutex g_activeLock;  // a leaf
HostFunctions* g_active GUARDED_BY(g_activeLock) = nullptr;

// The table's function for one method: calls it on the active host.
template <auto Method>
struct Thunk;
template <typename... Args, unsigned int (HostFunctions::*Method)(Args...)>
struct Thunk<Method> {
  static unsigned int Call(Args... args) {
    HostFunctions* host = HostFunctions::Active();
    return host ? (host->*Method)(args...) : kNoHost;
  }
};

// The same for a method that returns nothing.
template <auto Method>
struct VoidThunk;
template <typename... Args, void (HostFunctions::*Method)(Args...)>
struct VoidThunk<Method> {
  static void Call(Args... args) {
    HostFunctions* host = HostFunctions::Active();
    if (host) (host->*Method)(args...);
  }
};

}  // namespace

HostFunctions::HostFunctions() {
  platform::MutexLock lock(g_activeLock);
  g_active = this;
}

HostFunctions::~HostFunctions() {
  Deactivate();
  platform::MutexLock lock(allocationsLock_);
  for (void* pointer : allocations_) std::free(pointer);
}

void HostFunctions::Deactivate() {
  platform::MutexLock lock(g_activeLock);
  if (g_active == this) g_active = nullptr;
}

HostFunctions* HostFunctions::Active() {
  platform::MutexLock lock(g_activeLock);
  return g_active;
}

TS3Functions HostFunctions::Table() const {
  TS3Functions table;
  std::memset(&table, 0, sizeof table);
  table.freeMemory = &Thunk<&HostFunctions::FreeMemory>::Call;
  table.systemset3DListenerAttributes = &Thunk<&HostFunctions::Set3DListener>::Call;
  table.systemset3DSettings = &Thunk<&HostFunctions::Set3DSettings>::Call;
  table.channelset3DAttributes = &Thunk<&HostFunctions::Set3DAttributes>::Call;
  table.getClientID = &Thunk<&HostFunctions::GetClientID>::Call;
  table.getClientVariableAsString = &Thunk<&HostFunctions::GetClientVariableAsString>::Call;
  table.getChannelClientList = &Thunk<&HostFunctions::GetChannelClientList>::Call;
  table.getServerConnectInfo = &Thunk<&HostFunctions::GetServerConnectInfo>::Call;
  table.setClientSelfVariableAsInt = &Thunk<&HostFunctions::SetClientSelfVariableAsInt>::Call;
  table.flushClientSelfUpdates = &Thunk<&HostFunctions::FlushClientSelfUpdates>::Call;
  table.printMessageToCurrentTab = &VoidThunk<&HostFunctions::PrintMessageToCurrentTab>::Call;
  return table;
}

int HostFunctions::OutstandingAllocations() const {
  platform::MutexLock lock(allocationsLock_);
  return static_cast<int>(allocations_.size());
}

unsigned int HostFunctions::FreeMemory(void* pointer) {
  platform::MutexLock lock(allocationsLock_);
  if (allocations_.erase(pointer) == 0) return 1;  // not handed out by this host
  std::free(pointer);
  return 0;
}

unsigned int HostFunctions::Set3DListener(uint64, const TS3_VECTOR*, const TS3_VECTOR*, const TS3_VECTOR*) {
  return 0;
}

unsigned int HostFunctions::Set3DSettings(uint64, float, float) { return 0; }

unsigned int HostFunctions::GetServerConnectInfo(uint64, char*, unsigned short*, char*, size_t) { return 1; }

unsigned int HostFunctions::SetClientSelfVariableAsInt(uint64, size_t, int) { return 0; }

unsigned int HostFunctions::FlushClientSelfUpdates(uint64, const char*) { return 0; }

void HostFunctions::PrintMessageToCurrentTab(const char*) {}

void* HostFunctions::Allocate(size_t bytes) {
  void* memory = std::malloc(bytes);
  if (memory == nullptr) return nullptr;
  platform::MutexLock lock(allocationsLock_);
  allocations_.insert(memory);
  return memory;
}

char* HostFunctions::HostCopy(const std::string& text) {
  auto* copy = static_cast<char*>(Allocate(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

anyID* HostFunctions::HostCopy(const std::vector<anyID>& clientIDs) {
  auto* list = static_cast<anyID*>(Allocate((clientIDs.size() + 1) * sizeof(anyID)));
  if (list == nullptr) return nullptr;
  for (size_t i = 0; i < clientIDs.size(); ++i) list[i] = clientIDs[i];
  list[clientIDs.size()] = 0;
  return list;
}

}  // namespace halcyra::testing
