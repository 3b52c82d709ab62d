#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>

class QAction;
class QMenuBar;
class QWidget;

namespace qarn2::ui {

// One item of the menu bar as the window starts. The captions mark the letter that
// Alt (for a menu) or the bare key (for an item of the open menu) chooses with a '&'
// before it; a '&' of the caption itself is written "&&".
struct MenuItemEntry {
  const char* menu;          // the menu's name
  const char* menu_caption;
  const char* item;          // the item's name
  const char* caption;
  bool enabled;              // at start
};

// Every item of the menu bar, menu by menu, in order.
std::span<const MenuItemEntry> MenuItems();

// The menu bar `MainMenu1`. Menus and items carry their names as object names.
class MainMenu {
 public:
  explicit MainMenu(QWidget* window);

  QMenuBar* Bar() const { return bar_; }
  // The item called `name`; null for an unknown name.
  QAction* Item(std::string_view name) const;
  // Offers the item `name` or greys it, as the program's state says (the hardware, a
  // loaded sheet). While the item is held, it stays grey and takes that state after.
  void SetEnabled(std::string_view name, bool enabled);
  // Holds the items `names` grey (a running command would refuse them) or lets them go.
  void Hold(std::span<const std::string_view> names, bool held);

 private:
  QMenuBar* bar_;
  std::map<std::string, bool, std::less<>> held_;  // each held item's state to take after
};

}  // namespace qarn2::ui
