#include "plugin/menus.h"

#include <string>
#include <vector>

#include "plugin/client_memory.h"

namespace halcyra {
namespace {

PluginMenuItem Item(PluginMenuType type, int id, const std::string& text) {
  PluginMenuItem item{};
  item.type = type;
  item.id = id;
  CopyField(item.text, text.c_str());
  item.icon[0] = '\0';  // no icon
  return item;
}

}  // namespace

PluginMenuItem** AllocateMenus() {
  std::vector<PluginMenuItem> items = {
      Item(PLUGIN_MENU_TYPE_GLOBAL, kMenuToggleRadioModel, "Radio model on/off"),
      Item(PLUGIN_MENU_TYPE_GLOBAL, kMenuReloadSettings, "Reload settings now"),
      Item(PLUGIN_MENU_TYPE_GLOBAL, kMenuOpenSettings, "Open Halcyra.ini"),
      Item(PLUGIN_MENU_TYPE_GLOBAL, kMenuOpenLogFolder, "Open the log folder"),
  };
  for (int id = kMenuBindRadio1; id <= kMenuBindRadio3; ++id) {
    items.push_back(Item(PLUGIN_MENU_TYPE_GLOBAL, id,
                         "Bind a joystick button to radio " + std::to_string(id - kMenuBindRadio1 + 1)));
  }
  items.push_back(Item(PLUGIN_MENU_TYPE_CLIENT, kMenuRadioCheck, "Radio check"));
  return AllocateNullEndedArray(items);
}

}  // namespace halcyra
