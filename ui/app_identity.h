#pragma once

#include <QIcon>

class QApplication;

namespace qarn2::ui {

// The desktop entry's name without ".desktop" (and the Wayland app id).
inline constexpr char kDesktopFileName[] = "de.qarn2.qarn2";
// The program's name: the class of its windows (WM_CLASS), which the desktop
// entry's StartupWMClass names, whatever the program file is called.
inline constexpr char kApplicationName[] = "qarn2";
// The icon's name in the icon theme, as installed under share/icons/hicolor.
inline constexpr char kIconName[] = "qarn2";

// The program's icon: the installed theme's, or else the one built into the program
// (the sizes 16 to 128 rendered from the same drawing), so that an uninstalled build
// has it too.
QIcon ProgramIcon();

// Tells the desktop who the application is: its name, its desktop entry and its
// icon, which every window of the program shows. Call it right after the
// application object is made, before any window.
void SetDesktopIdentity(QApplication& application);

}  // namespace qarn2::ui
