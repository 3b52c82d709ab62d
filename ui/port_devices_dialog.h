#pragma once

#include <QDialog>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/serial_port_list.h"
#include "ui/handler_guard.h"
#include "ui/port_settings.h"

class QComboBox;
class QSocketNotifier;
class QTreeWidget;

namespace qarn2::ui {

// Where the dialog's devices come from: udev's on a real machine, a list of the
// test's own in the tests.
using PortSourceFactory = std::function<std::unique_ptr<engine::SerialPortSource>()>;

// "Serielle Geräte": the machine's serial devices as `qarn2-cli ports` lists them (by-id
// name, driver, USB adapter, access with the advice where the user may not open it),
// and for COM1 and COM2 the choice of device, "keine Zuordnung" being the default
// /dev/ttyS0 and /dev/ttyS1. The list follows plug and unplug while the dialog is open;
// a chosen device that goes stays chosen, marked as not present.
class PortDevicesDialog : public QDialog {
 public:
  // `chosen` is what the dialog begins with; `fixed` the ports the command line decides
  // for this run (--port, --simulate), whose choice counts from the next start on.
  PortDevicesDialog(QWidget* parent, std::unique_ptr<engine::SerialPortSource> source, const SavedPorts& chosen,
                    const std::vector<std::string>& fixed);
  ~PortDevicesDialog() override;

  // COM1 and COM2 as now chosen; a port left at "keine Zuordnung" has no entry.
  SavedPorts Chosen() const;

 private:
  // Reads the devices again; the choices stay as they are.
  void Refresh();
  void FillList();
  // The choice of `box`: its items for the devices there are now, `keep` selected.
  void FillChoice(QComboBox* box, const std::string& port, const std::string& keep);

  std::unique_ptr<engine::SerialPortSource> source_;
  std::vector<engine::SerialPortInfo> devices_;
  QTreeWidget* list_;
  std::map<std::string, QComboBox*> choices_;
  QSocketNotifier* watch_ = nullptr;
};

// What "Geräte..." does: opens the dialog over `parent` (window-modal; this returns at
// once). On OK the choice is saved, and each port whose device changed gets it in the
// engine unless the command line decides that port; when that is the port in use,
// `move(port)` moves there as choosing the port does. A file that cannot be written
// goes to `sink`.
void OpenPortDevices(QWidget* parent, engine::Engine& engine, const PortSourceFactory& sources, MessageSink sink,
                     std::function<void(const std::string& port)> move);

}  // namespace qarn2::ui
