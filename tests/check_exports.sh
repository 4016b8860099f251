#!/bin/sh
# Checks that the plug-in library exports exactly the 22 ts3plugin_* entry points, unmangled.
set -eu
library="$1"
expected="ts3plugin_apiVersion
ts3plugin_author
ts3plugin_description
ts3plugin_freeMemory
ts3plugin_infoData
ts3plugin_infoTitle
ts3plugin_init
ts3plugin_initHotkeys
ts3plugin_initMenus
ts3plugin_name
ts3plugin_onClientMoveEvent
ts3plugin_onClientMoveMovedEvent
ts3plugin_onConnectStatusChangeEvent
ts3plugin_onEditPlaybackVoiceDataEvent
ts3plugin_onHotkeyEvent
ts3plugin_onMenuItemEvent
ts3plugin_onTalkStatusChangeEvent
ts3plugin_registerPluginID
ts3plugin_requestAutoload
ts3plugin_setFunctionPointers
ts3plugin_shutdown
ts3plugin_version"
case "$library" in
  *.dll)
    # The names listed in the DLL's export table ("[ordinal] name" lines of objdump -p).
    actual=$(x86_64-w64-mingw32-objdump -p "$library" |
      sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | sort)
    ;;
  *)
    # Every defined dynamic symbol that is not a version tag.
    actual=$(nm -D --defined-only "$library" | awk '$2 != "A" {print $3}' | sort)
    ;;
esac
if [ "$actual" != "$expected" ]; then
  echo "exports of $library differ from the expected entry points:"
  echo "--- expected"; echo "$expected"
  echo "--- actual"; echo "$actual"
  exit 1
fi
echo "$library exports exactly the 22 ts3plugin_* entry points"
