// "Konfiguration" / "Ports" / "Geräte...": the dialog on a device list of the test's
// own that plugs and unplugs while it is open, the choice saved (in a temporary
// settings directory) and used by the next start, and the command line winning.

#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "sim/simulated_ports.h"
#include "ui/port_settings.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

// Devices that come and go when the test says; each change makes the descriptor
// readable, as udev's monitor does.
class FakePorts : public engine::SerialPortSource {
 public:
  FakePorts() { EXPECT_EQ(pipe2(pipe_, O_NONBLOCK | O_CLOEXEC), 0); }
  ~FakePorts() override {
    close(pipe_[0]);
    close(pipe_[1]);
  }
  std::vector<engine::FoundPort> List() override { return ports_; }
  int WatchDescriptor() override { return pipe_[0]; }
  bool TakeChanges() override {
    char change;
    bool changed = false;
    while (read(pipe_[0], &change, 1) == 1) changed = true;
    return changed;
  }
  void Plug(const engine::FoundPort& port) {
    ports_.push_back(port);
    EXPECT_EQ(write(pipe_[1], "+", 1), 1);
  }
  void Unplug(const std::string& path) {
    std::erase_if(ports_, [&](const engine::FoundPort& port) { return port.path == path; });
    EXPECT_EQ(write(pipe_[1], "-", 1), 1);
  }

 private:
  int pipe_[2] = {-1, -1};
  std::vector<engine::FoundPort> ports_;
};

const char* const kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";

class PortDevicesWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(settings_dir_.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings_dir_.path());
    device_dir_ = settings_dir_.path().toStdString() + "/dev";
    std::filesystem::create_directories(device_dir_);
    std::ofstream(device_dir_ + "/ttyUSB0") << '\n';
  }

  // A start of the window as the program makes it, with `args` on its command line
  // (COM2 on the simulated track keeps the start on virtual time). Every device the
  // port opens is noted and answered by the simulated track.
  void StartWith(std::vector<std::string> args) {
    form_.reset();
    engine_.reset();
    args.insert(args.end(), {"--port", "COM2=sim"});
    const ParsedOptions parsed = ParseProgramOptions(args);
    ASSERT_EQ(parsed.error, "");
    options_ = StartOptions(parsed.options);
    options_.virtual_time = true;
    options_.wrap_devices = [this](serial::DeviceFactory devices) {
      return [this, devices](const std::string& path) {
        opened_.push_back(path);
        return devices(sim::kSimulatedPath);
      };
    };
    opened_.clear();
    Start();
    form_->SetPortSources([this] {
      auto ports = std::make_unique<FakePorts>();
      fake_ = ports.get();
      return ports;
    });
  }

  QDialog* OpenDialog() {
    Choose("Ports");
    Find<QPushButton>("ButtonPortDevices")->click();
    return Find<QDialog>("PortDevicesDialog");
  }
  // Lets the dialog's watch see what the fake did.
  static void Notice() {
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
  }
  std::vector<QStringList> Rows() const {
    std::vector<QStringList> rows;
    auto* list = Find<QTreeWidget>("PortDevicesList");
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
      QStringList row;
      for (int column = 0; column < list->columnCount(); ++column) row << list->topLevelItem(i)->text(column);
      rows.push_back(row);
    }
    return rows;
  }
  static void Press(QDialog* dialog, QDialogButtonBox::StandardButton which) {
    dialog->findChild<QDialogButtonBox*>()->button(which)->click();
    QApplication::processEvents();
  }
  static QString Saved(const char* port) {
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, "qarn2", "qarn2");
    return settings.value(QString("Ports/") + port).toString();
  }
  static void Pick(QComboBox* box, const QString& text) {
    const int index = box->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    box->setCurrentIndex(index);
  }

  QTemporaryDir settings_dir_;
  std::string device_dir_;
  std::vector<std::string> opened_;
  FakePorts* fake_ = nullptr;
};

TEST_F(PortDevicesWindowTest, PlugUnplugChooseAndTheNextStartOpensTheChoice) {
  StartWith({});
  EXPECT_EQ(opened_.front(), "/dev/ttyS0");  // nothing saved yet
  QDialog* dialog = OpenDialog();
  EXPECT_TRUE(Rows().empty());
  auto* com1 = Find<QComboBox>("PortChoiceCOM1");
  EXPECT_EQ(com1->currentText(), "keine Zuordnung (/dev/ttyS0)");

  const std::string usb0 = device_dir_ + "/ttyUSB0";
  const std::string acm0 = device_dir_ + "/ttyACM0";  // no device file: udev made none
  fake_->Plug({usb0, kById, "ftdi_sio", "0403", "6001", "FTDI FT232R USB UART"});
  fake_->Plug({acm0, "", "cdc_acm", "2341", "0043", ""});
  Notice();
  const std::vector<QStringList> plugged{
      {QString::fromStdString(acm0), "", "cdc_acm", "2341:0043", "keine Ger\u00e4tedatei"},
      {QString::fromStdString(usb0), "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", "ftdi_sio",
       "0403:6001 FTDI FT232R USB UART", "ja"},
  };
  EXPECT_EQ(Rows(), plugged);
  const QString usb_item = QString::fromStdString(usb0) + " \u2013 usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
  Pick(com1, usb_item);

  // The chosen adapter goes: it leaves the list but stays chosen, marked; the other
  // goes from list and choice alike.
  fake_->Unplug(usb0);
  Notice();
  EXPECT_EQ(Rows(), std::vector<QStringList>{plugged[0]});
  EXPECT_EQ(com1->currentText(), QString(kById) + " (nicht vorhanden)");
  fake_->Unplug(acm0);
  Notice();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(com1->count(), 2);
  // And comes back under its own name.
  fake_->Plug({usb0, kById, "ftdi_sio", "0403", "6001", "FTDI FT232R USB UART"});
  Notice();
  EXPECT_EQ(com1->currentText(), usb_item);

  // OK saves the choice, and COM1, the port in use, moves to it at once.
  opened_.clear();
  Press(dialog, QDialogButtonBox::Ok);
  EXPECT_EQ(Saved("COM1"), kById);
  EXPECT_EQ(Saved("COM2"), "");
  EXPECT_EQ(opened_, std::vector<std::string>{kById});
  EXPECT_TRUE(Port().Connected());
  EXPECT_TRUE(messages_.empty());

  // The next start opens COM1 there.
  StartWith({});
  EXPECT_EQ(opened_.front(), kById);

  // Abbrechen keeps what was saved.
  dialog = OpenDialog();
  EXPECT_EQ(Find<QComboBox>("PortChoiceCOM1")->currentText(), QString(kById) + " (nicht vorhanden)");
  Pick(Find<QComboBox>("PortChoiceCOM1"), "keine Zuordnung (/dev/ttyS0)");
  Press(dialog, QDialogButtonBox::Cancel);
  EXPECT_EQ(Saved("COM1"), kById);
}

TEST_F(PortDevicesWindowTest, TheCommandLineWinsForItsRun) {
  struct Case {
    std::vector<std::string> args;
    std::string com1;
  };
  const std::vector<Case> cases{
      {{"--port", "COM1=/dev/ttyUSB7"}, "/dev/ttyUSB7"},
      {{"--simulate"}, sim::kSimulatedPath},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    QSettings(QSettings::IniFormat, QSettings::UserScope, "qarn2", "qarn2").setValue("Ports/COM1", kById);
    StartWith(c.args);
    EXPECT_EQ(opened_.front(), c.com1);

    // The dialog still edits what is saved, and says that it counts from the next start.
    QDialog* dialog = OpenDialog();
    EXPECT_TRUE(
        Find<QLabel>("PortDevicesNote")->text().contains("COM1 legt f\u00fcr diesen Lauf die Kommandozeile fest"));
    opened_.clear();
    Pick(Find<QComboBox>("PortChoiceCOM1"), "keine Zuordnung (/dev/ttyS0)");
    Press(dialog, QDialogButtonBox::Ok);
    EXPECT_EQ(Saved("COM1"), "");
    EXPECT_TRUE(opened_.empty());  // the port stays where the command line put it
    StartWith({});
    EXPECT_EQ(opened_.front(), "/dev/ttyS0");
  }
}

}  // namespace
}  // namespace qarn2::ui
