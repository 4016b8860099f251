// The host's binary interface: the types and the function table of the TeamSpeak 3 client plug-in
// API, written from the published facts of API 20 and API 26. Only the seven functions Halcyra
// calls are named; every other slot is reserved with padding of the right count, so the table has
// exactly 209 (API 20) or 230 (API 26) pointers. The API version comes from the build
// (HALCYRA_API_VERSION, default 20).
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef HALCYRA_API_VERSION
#define HALCYRA_API_VERSION 20
#endif

extern "C" {

typedef uint16_t anyID;   // a client id
typedef uint64_t uint64;  // a server connection handler id, a channel id

// A position in the host's 3D sound space: x to the right, y ahead, z up.
struct TS3_VECTOR {
  float x;
  float y;
  float z;
};

enum { CLIENT_NICKNAME = 1 };  // client property: the nickname (0 is the unique identifier)

// Connection status values of ts3plugin_onConnectStatusChangeEvent.
enum {
  STATUS_DISCONNECTED = 0,
  STATUS_CONNECTING = 1,
  STATUS_CONNECTED = 2,
  STATUS_CONNECTION_ESTABLISHING = 3,
  STATUS_CONNECTION_ESTABLISHED = 4,
};

#define HALCYRA_HOST_FUNCTION_COUNT (HALCYRA_API_VERSION == 26 ? 230 : 209)

// The host's function table, handed over by value to ts3plugin_setFunctionPointers.
// Slot numbers (zero-based) are the same in API 20 and 26.
struct TS3Functions {
  void* reservedSlots0To4[5];
  unsigned int (*freeMemory)(void* pointer);  // slot 5
  void* reservedSlots6To41[36];
  unsigned int (*systemset3DListenerAttributes)(uint64 serverConnectionHandlerID,  // slot 42
                                                const TS3_VECTOR* position, const TS3_VECTOR* forward,
                                                const TS3_VECTOR* up);
  void* reservedSlot43;
  unsigned int (*systemset3DSettings)(uint64 serverConnectionHandlerID,  // slot 44
                                      float distanceFactor, float rolloffScale);
  unsigned int (*channelset3DAttributes)(uint64 serverConnectionHandlerID,  // slot 45
                                         anyID clientID, const TS3_VECTOR* position);
  void* reservedSlots46To72[27];
  unsigned int (*getClientID)(uint64 serverConnectionHandlerID, anyID* result);  // slot 73
  void* reservedSlots74To80[7];
  unsigned int (*getClientVariableAsString)(uint64 serverConnectionHandlerID,  // slot 81
                                            anyID clientID, size_t flag, char** result);
  void* reservedSlots82To93[12];
  unsigned int (*getChannelClientList)(uint64 serverConnectionHandlerID,  // slot 94
                                       uint64 channelID, anyID** result);
  void* reservedSlotsFrom95[HALCYRA_HOST_FUNCTION_COUNT - 95];
};

}  // extern "C"

namespace halcyra {

inline constexpr int kHostApiVersion = HALCYRA_API_VERSION;
inline constexpr size_t kHostFunctionCount = HALCYRA_HOST_FUNCTION_COUNT;

static_assert(HALCYRA_API_VERSION == 20 || HALCYRA_API_VERSION == 26, "API version must be 20 or 26");
static_assert(sizeof(void*) == 8, "the plug-in is built for 64-bit hosts only");
static_assert(sizeof(TS3_VECTOR) == 12);
static_assert(sizeof(TS3Functions) == kHostFunctionCount * sizeof(void*));
static_assert(offsetof(TS3Functions, freeMemory) == 5 * sizeof(void*));
static_assert(offsetof(TS3Functions, systemset3DListenerAttributes) == 42 * sizeof(void*));
static_assert(offsetof(TS3Functions, systemset3DSettings) == 44 * sizeof(void*));
static_assert(offsetof(TS3Functions, channelset3DAttributes) == 45 * sizeof(void*));
static_assert(offsetof(TS3Functions, getClientID) == 73 * sizeof(void*));
static_assert(offsetof(TS3Functions, getClientVariableAsString) == 81 * sizeof(void*));
static_assert(offsetof(TS3Functions, getChannelClientList) == 94 * sizeof(void*));

}  // namespace halcyra
