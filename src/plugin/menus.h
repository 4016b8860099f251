// The plug-in's menu items in the client: in its plug-in menu (global) and in a client's context
// menu. Ids are what the client hands back to ts3plugin_onMenuItemEvent.
#pragma once

#include "foundation/host_abi.h"

namespace halcyra {

enum MenuItemId : int {
  kMenuToggleRadioModel = 1,
  kMenuReloadSettings = 2,
  kMenuOpenSettings = 3,
  kMenuOpenLogFolder = 4,
  kMenuBindRadio1 = 5,  // 5, 6, 7: "Bind a joystick button to radio 1, 2, 3"
  kMenuBindRadio3 = 7,
  kMenuRadioCheck = 10,  // a client's context menu
};

// The list for ts3plugin_initMenus (see client_memory.h); null when memory runs out.
PluginMenuItem** AllocateMenus();

}  // namespace halcyra
