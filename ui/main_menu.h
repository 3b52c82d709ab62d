#pragma once

#include <span>
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

 private:
  QMenuBar* bar_;
};

}  // namespace qarn2::ui
