#include "ui/main_menu.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <array>
#include <string>

namespace qarn2::ui {
namespace {

constexpr std::array<MenuItemEntry, 27> kItems{{
    {"Datei1", "&Datei", "OeffnenDecoder", "Decoderdatei \u00f6&ffnen", true},
    {"Datei1", "&Datei", "SpeichernDecoder", "Decoderdatei &speichern", false},
    {"Datei1", "&Datei", "SpeichernunterDecoder", "Decoderdatei speichern &unter", false},
    {"Datei1", "&Datei", "druckenDecoder", "Decoderdatei &drucken", false},
    {"Datei1", "&Datei", "Druckereinrichten1", "Drucker &einrichten", true},
    {"Datei1", "&Datei", "ENDE", "E&NDE", true},
    {"Datei1", "&Datei", "JmriImport", "JMRI-Roster &importieren...", true},
    {"Datei1", "&Datei", "JmriExport", "JMRI-Roster e&xportieren...", true},
    {"Datei1", "&Datei", "DefinitionSheet", "Decoder&blatt aus Definition...", true},
    {"Decoder1", "&Bearbeiten", "Kennlinie", "&Kennlinie", false},
    {"CVlesen1", "De&coder", "Decoderwahl", "Decoder &w\u00e4hlen", true},
    {"CVlesen1", "De&coder", "Progmodew", "&Prog-Mode w\u00e4hlen", true},
    {"CVlesen1", "De&coder", "Reset1", "&Reset", true},
    {"CVlesen1", "De&coder", "Erkennen1", "&Erkennen", true},
    {"CVschreiben1", "CV &auslesen", "leseCV", "&Einzelne CV", true},
    {"CVschreiben1", "CV &auslesen", "leseAlleCVs", "&Alle CVs", false},
    {"CVschreiben1", "CV &auslesen", "vergleicheCVs", "&Vergleichen", false},
    {"Konfiguration1", "CV &Schreiben", "SchreibeCV", "&Einzelne CV", true},
    {"Konfiguration1", "CV &Schreiben", "schreibealleCVs", "&Alle CVs", false},
    {"Info1", "Aus&probieren", "Lokprobier", "&Lokdecoder", true},
    {"Info1", "Aus&probieren", "Weicheprobier", "&Weichendecoder", true},
    {"Info1", "Aus&probieren", "Funktionsdecprobier", "&Funktionsdecoder", true},
    {"Info2", "&Konfiguration", "HardwareWahl", "Prog. &Hardware", true},
    {"Info2", "&Konfiguration", "Ports", "&Ports", true},
    {"Info3", "&Info", "berQARN3", "\u00dcber &QARN", true},
    {"Info3", "&Info", "Anschlsse", "&Anschl\u00fcsse", true},
    {"Info3", "&Info", "Protokoll", "&Protokoll", true},
}};

}  // namespace

std::span<const MenuItemEntry> MenuItems() { return kItems; }

MainMenu::MainMenu(QWidget* window) : bar_(new QMenuBar(window)) {
  bar_->setObjectName("MainMenu1");
  bar_->setAccessibleName(QString::fromUtf8("Men\u00fcleiste"));
  QMenu* menu = nullptr;
  for (const MenuItemEntry& entry : kItems) {
    if (menu == nullptr || menu->objectName() != entry.menu) {
      menu = bar_->addMenu(QString::fromUtf8(entry.menu_caption));
      menu->setObjectName(entry.menu);
      // An open menu is called what its title shows.
      menu->setAccessibleName(menu->menuAction()->iconText());
    }
    QAction* action = menu->addAction(QString::fromUtf8(entry.caption));
    action->setObjectName(entry.item);
    action->setEnabled(entry.enabled);
  }
}

QAction* MainMenu::Item(std::string_view name) const {
  return bar_->findChild<QAction*>(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
}

void MainMenu::SetEnabled(std::string_view name, bool enabled) {
  if (const auto held = held_.find(name); held != held_.end()) {
    held->second = enabled;
  } else if (QAction* action = Item(name)) {
    action->setEnabled(enabled);
  }
}

void MainMenu::Hold(std::span<const std::string_view> names, bool held) {
  for (std::string_view name : names) {
    QAction* action = Item(name);
    if (action == nullptr) continue;
    const auto it = held_.find(name);
    if (held && it == held_.end()) {
      held_.emplace(std::string(name), action->isEnabled());
      action->setEnabled(false);
    } else if (!held && it != held_.end()) {
      action->setEnabled(it->second);
      held_.erase(it);
    }
  }
}

}  // namespace qarn2::ui
