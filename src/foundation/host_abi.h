// The host's binary interface: the types and the function table of the TeamSpeak 3 client plug-in
// API, written from the published facts of API 20 and API 26. Only the functions Halcyra calls are
// named; every other slot is reserved with padding of the right count, so the table is exactly the
// 209 pointers that every client's table begins with.
#pragma once

#include <cstddef>
#include <cstdint>

// A build made with HALCYRA_API_VERSION set to a number defines it here; 0 = none (the usual build).
#ifndef HALCYRA_FIXED_API_VERSION
#define HALCYRA_FIXED_API_VERSION 0
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

// The number of pointers every client's table begins with: API 20 and 21 have exactly these, later
// versions append more (210, 226, 230). The plug-in reads only this common prefix, so one build
// works with every client.
#define HALCYRA_HOST_FUNCTION_COUNT 209

enum { CLIENT_INPUT_DEACTIVATED = 10 };  // own client property: 0 = microphone sends, 1 = it does not
enum { CONNECTION_SERVER_IP = 6 };       // connection property: the host name or address connected to

// What an info panel request or a menu item is about.
enum PluginItemType { PLUGIN_SERVER = 0, PLUGIN_CHANNEL = 1, PLUGIN_CLIENT = 2 };
enum PluginMenuType {
  PLUGIN_MENU_TYPE_GLOBAL = 0,
  PLUGIN_MENU_TYPE_CHANNEL = 1,
  PLUGIN_MENU_TYPE_CLIENT = 2
};

// What ts3plugin_initHotkeys and ts3plugin_initMenus hand to the host: each entry allocated on its
// own (malloc), in an allocated array of pointers ended by a null pointer; the host gives every
// piece back through ts3plugin_freeMemory. Texts are UTF-8, zero-terminated.
enum { PLUGIN_HOTKEY_TEXT_CAPACITY = 128, PLUGIN_MENU_TEXT_CAPACITY = 128 };
struct PluginHotkey {
  char keyword[PLUGIN_HOTKEY_TEXT_CAPACITY];      // passed back to ts3plugin_onHotkeyEvent
  char description[PLUGIN_HOTKEY_TEXT_CAPACITY];  // shown in the client's key-binding dialog
};
struct PluginMenuItem {
  enum PluginMenuType type;  // where the item is shown
  int id;                    // passed back to ts3plugin_onMenuItemEvent
  char text[PLUGIN_MENU_TEXT_CAPACITY];
  char icon[PLUGIN_MENU_TEXT_CAPACITY];  // a file in the plug-in's icon folder; empty = none
};

// The host's function table, handed over by value to ts3plugin_setFunctionPointers: its first 209
// pointers, which have the same order in every API version. Slot numbers are zero-based.
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
  void* reservedSlots74To75[2];
  unsigned int (*setClientSelfVariableAsInt)(uint64 serverConnectionHandlerID, size_t flag,  // slot 76
                                             int value);
  void* reservedSlot77;
  unsigned int (*flushClientSelfUpdates)(uint64 serverConnectionHandlerID,  // slot 78
                                         const char* returnCode);
  void* reservedSlots79To80[2];
  unsigned int (*getClientVariableAsString)(uint64 serverConnectionHandlerID,  // slot 81
                                            anyID clientID, size_t flag, char** result);
  void* reservedSlot82;
  unsigned int (*getChannelOfClient)(uint64 serverConnectionHandlerID, anyID clientID,  // slot 83
                                     uint64* result);
  void* reservedSlots84To93[10];
  unsigned int (*getChannelClientList)(uint64 serverConnectionHandlerID,  // slot 94
                                       uint64 channelID, anyID** result);
  void* reservedSlots95To103[9];
  unsigned int (*getConnectionVariableAsString)(uint64 serverConnectionHandlerID,  // slot 104
                                                anyID clientID, size_t flag, char** result);
  void* reservedSlots105To181[77];
  void (*getPluginPath)(char* path, size_t maxLen, const char* pluginID);  // slot 182
  void* reservedSlots183To184[2];
  void (*printMessageToCurrentTab)(const char* message);  // slot 185
  void* reservedSlots186To188[3];
  unsigned int (*getServerConnectInfo)(uint64 serverConnectionHandlerID, char* host,  // slot 189
                                       unsigned short* port, char* password, size_t maxLen);
  void* reservedSlots190To191[2];
  unsigned int (*requestInfoUpdate)(uint64 serverConnectionHandlerID,  // slot 192
                                    enum PluginItemType itemType, uint64 itemID);
  void* reservedSlots193To208[16];
};

}  // extern "C"

namespace halcyra {

inline constexpr size_t kHostFunctionCount = HALCYRA_HOST_FUNCTION_COUNT;
// The host API versions whose tables begin with these 209 pointers: the plug-in works with all of
// them, and answers the one the running client accepts (foundation/host_api_version.h).
inline constexpr int kOldestHostApi = 20;
inline constexpr int kNewestHostApi = 26;
// The version a fixed build answers to every client; 0 when the running client's version decides.
inline constexpr int kFixedHostApiVersion = HALCYRA_FIXED_API_VERSION;

static_assert(kFixedHostApiVersion == 0 ||
                  (kFixedHostApiVersion >= kOldestHostApi && kFixedHostApiVersion <= kNewestHostApi),
              "a fixed host API version must be one from 20 to 26");
static_assert(sizeof(void*) == 8, "the plug-in is built for 64-bit hosts only");
static_assert(sizeof(TS3_VECTOR) == 12);
static_assert(sizeof(PluginHotkey) == 256);
static_assert(sizeof(PluginMenuItem) == 264);
static_assert(sizeof(TS3Functions) == kHostFunctionCount * sizeof(void*));
static_assert(offsetof(TS3Functions, freeMemory) == 5 * sizeof(void*));
static_assert(offsetof(TS3Functions, systemset3DListenerAttributes) == 42 * sizeof(void*));
static_assert(offsetof(TS3Functions, systemset3DSettings) == 44 * sizeof(void*));
static_assert(offsetof(TS3Functions, channelset3DAttributes) == 45 * sizeof(void*));
static_assert(offsetof(TS3Functions, getClientID) == 73 * sizeof(void*));
static_assert(offsetof(TS3Functions, getClientVariableAsString) == 81 * sizeof(void*));
static_assert(offsetof(TS3Functions, getChannelClientList) == 94 * sizeof(void*));
static_assert(offsetof(TS3Functions, setClientSelfVariableAsInt) == 76 * sizeof(void*));
static_assert(offsetof(TS3Functions, flushClientSelfUpdates) == 78 * sizeof(void*));
static_assert(offsetof(TS3Functions, getChannelOfClient) == 83 * sizeof(void*));
static_assert(offsetof(TS3Functions, getConnectionVariableAsString) == 104 * sizeof(void*));
static_assert(offsetof(TS3Functions, getPluginPath) == 182 * sizeof(void*));
static_assert(offsetof(TS3Functions, printMessageToCurrentTab) == 185 * sizeof(void*));
static_assert(offsetof(TS3Functions, getServerConnectInfo) == 189 * sizeof(void*));
static_assert(offsetof(TS3Functions, requestInfoUpdate) == 192 * sizeof(void*));

}  // namespace halcyra
