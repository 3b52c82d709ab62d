#include "ui/port_devices_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>

#include "engine/port_advice.h"
#include "ui/qt_translations.h"

namespace qarn2::ui {
namespace {

QString FromUtf8(const std::string& text) { return QString::fromUtf8(text.c_str()); }

// What the user may do with the device: "ja", or why not and what to do.
std::string AccessText(const engine::SerialPortInfo& device) {
  std::string text = device.console ? "Systemkonsole; " : "";
  if (!device.node.exists) return text + "keine Ger\xC3\xA4tedatei";
  if (device.may_open) return text + "ja";
  return text + "nein: " +
         engine::AccessAdvice(device.path, device.node, device.usb_vendor, device.usb_product);
}

// What a choice stores for a device: its stable name where it has one, so that the
// choice holds when the adapter comes back under another ttyUSBn.
std::string ValueOf(const engine::SerialPortInfo& device) {
  return device.by_id.empty() ? device.path : device.by_id;
}

bool IsDevice(const engine::SerialPortInfo& device, const std::string& value) {
  return !value.empty() && (value == device.path || value == device.by_id);
}

std::string DefaultPathOf(const std::string& port) {
  return "/dev/ttyS" + std::to_string(std::stoi(port.substr(3)) - 1);
}

}  // namespace

PortDevicesDialog::PortDevicesDialog(QWidget* parent, std::unique_ptr<engine::SerialPortSource> source,
                                     const SavedPorts& chosen, const std::vector<std::string>& fixed)
    : QDialog(parent), source_(std::move(source)), list_(new QTreeWidget(this)) {
  setObjectName("PortDevicesDialog");
  setWindowTitle("Serielle Ger\xC3\xA4te");
  auto* layout = new QVBoxLayout(this);

  auto* list_label = new QLabel("&Ger\xC3\xA4te dieses Rechners:", this);
  list_label->setBuddy(list_);
  layout->addWidget(list_label);
  list_->setObjectName("PortDevicesList");
  list_->setAccessibleName("Serielle Ger\xC3\xA4te");
  list_->setRootIsDecorated(false);
  list_->setHeaderLabels({"Ger\xC3\xA4t", "Name unter /dev/serial/by-id", "Treiber", "USB-Adapter", "Zugriff"});
  list_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  list_->setMinimumWidth(640);
  layout->addWidget(list_);

  auto* form = new QFormLayout;
  for (const char* port : kMappedPorts) {
    auto* box = new QComboBox(this);
    box->setObjectName(QString("PortChoice") + port);
    box->setAccessibleName(QString("Ger\xC3\xA4t f\xC3\xBCr ") + port);
    choices_[port] = box;
    auto* label = new QLabel(QString("&") + port + ":", this);
    label->setBuddy(box);
    form->addRow(label, box);
    const auto it = chosen.find(port);
    FillChoice(box, port, it == chosen.end() ? "" : it->second);
  }
  layout->addLayout(form);

  std::string note =
      "Die Zuordnung wird gespeichert und gilt auch beim n\xC3\xA4" "chsten Start. qarn2-cli liest sie nicht; "
      "dort nennt --port das Ger\xC3\xA4t.";
  for (const std::string& port : fixed) {
    note += "\n" + port + " legt f\xC3\xBCr diesen Lauf die Kommandozeile fest (--port oder --simulate); die "
            "Auswahl f\xC3\xBCr " + port + " gilt ab dem n\xC3\xA4" "chsten Start.";
  }
  auto* note_label = new QLabel(FromUtf8(note), this);
  note_label->setObjectName("PortDevicesNote");
  note_label->setWordWrap(true);
  layout->addWidget(note_label);

  layout->addWidget(GermanOkCancel(*this));

  // Watched before the first list, so that a device that comes meanwhile is not missed.
  if (const int descriptor = source_->WatchDescriptor(); descriptor >= 0) {
    watch_ = new QSocketNotifier(descriptor, QSocketNotifier::Read, this);
    connect(watch_, &QSocketNotifier::activated, this, [this] {
      if (source_->TakeChanges()) Refresh();
    });
  }
  Refresh();
  resize(880, 380);
}

PortDevicesDialog::~PortDevicesDialog() {
  // The notifier goes before the source whose descriptor it watches.
  delete watch_;
}

SavedPorts PortDevicesDialog::Chosen() const {
  SavedPorts chosen;
  for (const auto& [port, box] : choices_) {
    const std::string value = box->currentData().toString().toStdString();
    if (!value.empty()) chosen[port] = value;
  }
  return chosen;
}

void PortDevicesDialog::Refresh() {
  const SavedPorts kept = Chosen();
  devices_ = engine::ListSerialPorts(*source_, engine::ActiveConsoles(), serial::PortMap{});
  FillList();
  for (const auto& [port, box] : choices_) {
    const auto it = kept.find(port);
    FillChoice(box, port, it == kept.end() ? "" : it->second);
  }
}

void PortDevicesDialog::FillList() {
  list_->clear();
  for (const engine::SerialPortInfo& device : devices_) {
    const std::string by_id = std::filesystem::path(device.by_id).filename().string();
    auto* item = new QTreeWidgetItem(list_);
    const std::string columns[] = {device.path, by_id, device.driver.empty() ? "?" : device.driver, device.usb,
                                   AccessText(device)};
    for (int column = 0; column < 5; ++column) {
      item->setText(column, FromUtf8(columns[column]));
      item->setToolTip(column, FromUtf8(columns[column]));
    }
  }
}

void PortDevicesDialog::FillChoice(QComboBox* box, const std::string& port, const std::string& keep) {
  box->clear();
  box->addItem(FromUtf8("keine Zuordnung (" + DefaultPathOf(port) + ")"), QString());
  int selected = 0;
  for (const engine::SerialPortInfo& device : devices_) {
    std::string text = device.path;
    if (!device.by_id.empty()) text += " \xE2\x80\x93 " + std::filesystem::path(device.by_id).filename().string();
    box->addItem(FromUtf8(text), FromUtf8(ValueOf(device)));
    if (IsDevice(device, keep)) selected = box->count() - 1;
  }
  if (!keep.empty() && selected == 0) {
    box->addItem(FromUtf8(keep + " (nicht vorhanden)"), FromUtf8(keep));
    selected = box->count() - 1;
  }
  box->setCurrentIndex(selected);
}

void OpenPortDevices(QWidget* parent, engine::Engine& engine, const PortSourceFactory& sources, MessageSink sink,
                     std::function<void(const std::string& port)> move) {
  const SavedPorts before = LoadSavedPorts();
  std::vector<std::string> fixed;
  for (const char* port : kMappedPorts) {
    if (engine.CommandLineDecides(port)) fixed.push_back(port);
  }
  auto* dialog = new PortDevicesDialog(parent, sources ? sources() : engine::MakeUdevPortSource(), before, fixed);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(dialog, &QDialog::accepted, parent, [dialog, before, &engine, sink, move] {
    const SavedPorts after = dialog->Chosen();
    if (const std::string error = SaveSavedPorts(after); !error.empty() && sink) sink(error);
    std::string moved;
    for (const char* port : kMappedPorts) {
      const auto was = before.find(port);
      const auto is = after.find(port);
      const std::string old_path = was == before.end() ? "" : was->second;
      const std::string new_path = is == after.end() ? "" : is->second;
      if (old_path == new_path) continue;
      if (engine.SetSavedPort(port, new_path) && engine.Port().Port() == port) moved = port;
    }
    if (!moved.empty() && move) move(moved);
  });
  dialog->open();
}

}  // namespace qarn2::ui
