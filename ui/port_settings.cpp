#include "ui/port_settings.h"

#include <QSettings>
#include <QString>

namespace qarn2::ui {
namespace {

// The settings file is INI, so that a user can read and mend it.
constexpr auto kFormat = QSettings::IniFormat;
constexpr const char* kName = "qarn2";

}  // namespace

SavedPorts LoadSavedPorts() {
  QSettings settings(kFormat, QSettings::UserScope, kName, kName);
  SavedPorts ports;
  settings.beginGroup("Ports");
  for (const char* port : kMappedPorts) {
    const std::string path = settings.value(port).toString().toStdString();
    if (!path.empty()) ports[port] = path;
  }
  return ports;
}

std::string SaveSavedPorts(const SavedPorts& ports) {
  QSettings settings(kFormat, QSettings::UserScope, kName, kName);
  settings.beginGroup("Ports");
  for (const char* port : kMappedPorts) {
    const auto it = ports.find(port);
    if (it == ports.end() || it->second.empty()) {
      settings.remove(port);
    } else {
      settings.setValue(port, QString::fromStdString(it->second));
    }
  }
  settings.endGroup();
  settings.sync();
  if (settings.status() == QSettings::NoError) return "";
  return "Die Zuordnung der Ports konnte nicht gespeichert werden: " + settings.fileName().toStdString() +
         " ist nicht beschreibbar.";
}

engine::EngineOptions StartOptions(const ProgramOptions& options) {
  engine::EngineOptions start = EngineOptionsFor(options);
  start.saved_ports = LoadSavedPorts();
  return start;
}

}  // namespace qarn2::ui
