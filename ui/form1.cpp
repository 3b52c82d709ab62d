#include "ui/form1.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>

#include "curve/curve_editor.h"
#include "link/dccex_station.h"
#include "link/hardware_setup.h"
#include "programming/cv_commands.h"
#include "ui/accessible_widgets.h"
#include "ui/click_label.h"
#include "ui/compare_result.h"
#include "ui/curve_panel.h"
#include "ui/cv_box.h"
#include "ui/decoder_identify.h"
#include "ui/definition_dialog.h"
#include "ui/file_dialogs.h"
#include "ui/hardware_panel.h"
#include "ui/main_menu.h"
#include "ui/mode_panel.h"
#include "ui/panel_focus.h"
#include "ui/panel_places.h"
#include "ui/port_panel.h"
#include "ui/sheet_files.h"
#include "ui/sheet_pane.h"
#include "ui/connection_diagram.h"
#include "ui/text_codec.h"
#include "ui/track_log_window.h"
#include "ui/tryout_panel.h"

namespace qarn2::ui {
namespace {

constexpr int kOuterWidth = 696;
constexpr int kOuterHeight = 480;
// The title while the LGB interface leaves its greeting unanswered.
const char* const kNoLgbTitle = "keine Verbindung zu LGB55045";
// What a radio button's choice waits before it takes effect, in ticks (400 ms).
constexpr int kChoiceWaitTicks = 40;

// The window's font: the nearest to an 11-pixel "MS Sans Serif" this system has.
// The fonts with Arial's widths come first, since the controls' sizes were made for
// that narrow face; any sans-serif face will do otherwise.
QFont WindowFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "Liberation Sans", "Arimo", "Nimbus Sans", "Arial", "Helvetica"});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace

TForm1::TForm1(engine::Engine& engine, MessageSink sink, std::unique_ptr<FileDialogs> dialogs)
    : engine_(engine),
      port_(engine.Port()),
      link_(engine.Link()),
      state_(engine.State()),
      guard_(std::move(sink)),
      dialogs_(std::move(dialogs)),
      cv_commands_(engine.Cv()),
      tryout_(engine.TryOut()) {
  setObjectName("Form1");
  // Before the first control is made, whose accessible interface Qt keeps.
  InstallAccessibleWidgets();
  guard_.SetExplainer([this](const std::exception& e) -> std::string {
    const auto* port_error = dynamic_cast<const serial::EComPort*>(&e);
    return port_error ? engine_.Advice(*port_error) : "";
  });
  setFont(WindowFont());
  menu_ = std::make_unique<MainMenu>(this);
  setMenuBar(menu_->Bar());
  // The menus open as windows of their own and do not take the window's font.
  for (QMenu* menu : menu_->Bar()->findChildren<QMenu*>()) menu->setFont(font());
  auto* client = new QWidget(this);
  client->setObjectName("Form1Client");
  setCentralWidget(client);
  controls_ = BuildFormControls(client);
  mode_panel_ = std::make_unique<ModePanel>(client);
  port_panel_ = std::make_unique<PortPanel>(client);
  hardware_panel_ = std::make_unique<HardwarePanel>(client);
  cv_box_ = std::make_unique<CvBox>(client, CvBoxHooks());
  sheet_ = std::make_unique<SheetPane>(controls_.Decoder);
  if (!dialogs_) dialogs_ = std::make_unique<QtFileDialogs>();
  SheetFiles::WindowHooks file_hooks;
  file_hooks.show_programming_mode = [this] { ShowProgrammingMode(); };
  file_hooks.scan_sheet = [this] { cv_commands_.ScanSheet(*sheet_); };
  file_hooks.enable_menu_item = [this](std::string_view item) { menu_->SetEnabled(item, true); };
  file_hooks.disable_menu_item = [this](std::string_view item) { menu_->SetEnabled(item, false); };
  file_hooks.hardware_kind = [this] { return link_.HardwareKind; };
  file_hooks.cv_command_running = [this] { return cv_commands_.Busy(); };
  file_hooks.close_curve_editor = [this] { curve_panel_->HideCurvePanel(); };
  sheet_files_ = std::make_unique<SheetFiles>(this, *sheet_, state_, *dialogs_, std::move(file_hooks));
  TryOutPanel::WindowHooks tryout_hooks;
  tryout_hooks.hide_all_panels = [this] { HideAllPanels(); };
  tryout_hooks.as_part_of_caller = [this](const std::function<void()>& start) { guard_.RunAsPartOfCaller(start); };
  tryout_panel_ = std::make_unique<TryOutPanel>(client, std::move(tryout_hooks));
  engine_.SetViews(cv_box_.get(), tryout_panel_.get());
  CurvePanel::WindowHooks curve_hooks;
  curve_hooks.hide_all_panels = [this] { HideAllPanels(); };
  curve_hooks.as_part_of_caller = [this](const std::function<void()>& start) { guard_.RunAsPartOfCaller(start); };
  curve_panel_ = std::make_unique<CurvePanel>(client, std::move(curve_hooks));
  curve_editor_ = std::make_unique<curve::CurveEditor>(state_, cv_commands_, *curve_panel_);
  controls_.Infolabel->OnClick = [this] { guard_.Run([this] { InfolabelClick(); }); };
  controls_.Image1->OnClick = [this] { guard_.Run([this] { Image1Click(); }); };
  ConnectMenu();
  ConnectRadioButtons();
  ConnectCvCommands();
  ConnectTryOut();
  ConnectCurveEditor();
  auto* panel_focus = new PanelFocus(this);
  for (const char* panel : {"Hardwarebox", "Portbox", "Kennlinienbox", "GroupCVRW", "Steuerbox", "Infolabel"}) {
    panel_focus->Watch(client->findChild<QWidget*>(panel));
  }
  std::vector<QWidget*> modes;
  for (std::size_t i = 0; i < kModeChoices.size(); ++i) modes.push_back(mode_panel_->Button(i));
  panel_focus->Watch(client->findChild<QWidget*>("ProgmodeWahl"), modes);
  panel_focus->Watch(controls_.Resetbox, {}, controls_.ResetNot);
  // What stands beside the open CV box moves clear of it: the port panel to its right,
  // the reset question to its left, the diagram below it.
  auto* places = new PanelPlaces(cv_box_->Box(), this);
  places->KeepClear(client->findChild<QWidget*>("Portbox"), QPoint(400, 72));
  places->KeepClear(controls_.Resetbox, QPoint(16, 72));
  places->KeepClear(controls_.Image1, QPoint(320, 196));
  // The panels lie over the sheet: they paint their own background, so that the
  // sheet's text does not show through them.
  for (QGroupBox* box : client->findChildren<QGroupBox*>()) box->setAutoFillBackground(true);
  resize(kOuterWidth, kOuterHeight);
}

TForm1::~TForm1() { engine_.SetViews(nullptr, nullptr); }

void TForm1::ConnectMenu() {
  using Handler = void (TForm1::*)();
  struct Route {
    const char* item;
    Handler handler;
  };
  static constexpr Route kRoutes[] = {
      {"OeffnenDecoder", &TForm1::OeffnenDecoderClick},
      {"SpeichernDecoder", &TForm1::SpeichernDecoderClick},
      {"SpeichernunterDecoder", &TForm1::SpeichernunterDecoderClick},
      {"druckenDecoder", &TForm1::druckenDecoderClick},
      {"Druckereinrichten1", &TForm1::Druckereinrichten1Click},
      {"ENDE", &TForm1::ENDEClick},
      {"Kennlinie", &TForm1::KennlinieClick},
      {"Decoderwahl", &TForm1::OeffnenDecoderClick},
      {"Progmodew", &TForm1::ProgmodewClick},
      {"Reset1", &TForm1::Reset1Click},
      {"leseCV", &TForm1::leseCVClick},
      {"leseAlleCVs", &TForm1::leseAlleCVsClick},
      {"vergleicheCVs", &TForm1::vergleicheCVsClick},
      {"SchreibeCV", &TForm1::SchreibeCVClick},
      {"schreibealleCVs", &TForm1::schreibealleCVsClick},
      {"Lokprobier", &TForm1::LokprobierClick},
      {"Weicheprobier", &TForm1::WeicheprobierClick},
      {"Funktionsdecprobier", &TForm1::FunktionsdecprobierClick},
      {"HardwareWahl", &TForm1::HardwareWahlClick},
      {"Ports", &TForm1::PortsClick},
      {"berQARN3", &TForm1::berQARN3Click},
      {"Anschlsse", &TForm1::AnschlsseClick},
      {"JmriImport", &TForm1::JmriImportClick},
      {"JmriExport", &TForm1::JmriExportClick},
      {"Protokoll", &TForm1::ProtokollClick},
      {"Erkennen1", &TForm1::Erkennen1Click},
      {"DefinitionSheet", &TForm1::DefinitionSheetClick},
  };
  for (const Route& route : kRoutes) {
    QAction* action = menu_->Item(route.item);
    const Handler handler = route.handler;
    connect(action, &QAction::triggered, this, [this, handler] { guard_.Run([this, handler] { (this->*handler)(); }); });
  }
  // "Vergleichen" reads as "Alle CVs" does: it is offered (and held) with it.
  QAction* read_all = menu_->Item("leseAlleCVs");
  QAction* compare = menu_->Item("vergleicheCVs");
  compare->setEnabled(read_all->isEnabled());
  connect(read_all, &QAction::changed, compare, [read_all, compare] { compare->setEnabled(read_all->isEnabled()); });
}

void TForm1::OnChecked(QRadioButton* button, std::function<void()> handler) {
  // `toggled` comes only with a change: a click on the checked button sends nothing,
  // and unchecking (by checking another of the group) runs no handler.
  connect(button, &QRadioButton::toggled, this, [this, handler = std::move(handler)](bool checked) {
    if (checked) guard_.Run(handler);
  });
}

void TForm1::ConnectRadioButtons() {
  for (std::size_t i = 0; i < kModeChoices.size(); ++i) {
    OnChecked(mode_panel_->Button(i), [this, i] { ProgModeClick(i); });
  }
  const std::pair<int, void (TForm1::*)()> hardware[] = {
      {link::kBoard, &TForm1::ButtonQARNClick},
      {link::kBooster, &TForm1::ButtonBoosterClick},
      {link::kLgbInterface, &TForm1::ButtonLGBClick},
      {link::kLenzInterface, &TForm1::ButtonLenzClick},
      {link::kPr1, &TForm1::ButtonPR1Click},
      {link::kDccEx, &TForm1::ButtonDCCEXClick},
  };
  for (const auto& [kind, handler] : hardware) {
    OnChecked(hardware_panel_->Button(kind), [this, handler] { (this->*handler)(); });
  }
  OnChecked(port_panel_->Com1(), [this] { ButtonCOM1Click(); });
  OnChecked(port_panel_->Com2(), [this] { ButtonCOM2Click(); });
  connect(port_panel_->Devices(), &QPushButton::clicked, this, [this] { guard_.Run([this] { PortDevicesClick(); }); });
}

CvBox::WindowHooks TForm1::CvBoxHooks() {
  CvBox::WindowHooks hooks;
  hooks.hide_all_panels = [this] { HideAllPanels(); };
  hooks.set_menu_item_enabled = [this](std::string_view item, bool enabled) {
    menu_->SetEnabled(item, enabled);
  };
  hooks.command_running = [this](bool running) {
    // What a running CV command refuses is not offered meanwhile.
    static constexpr std::string_view kRefused[] = {"OeffnenDecoder", "Decoderwahl",     "SpeichernunterDecoder",
                                                    "druckenDecoder", "JmriImport",      "JmriExport",
                                                    "leseAlleCVs",    "schreibealleCVs"};
    menu_->Hold(kRefused, running);
    controls_.ResetOK->setEnabled(!running);
  };
  hooks.show_reset_box = [this](bool shown) {
    controls_.Resetbox->setVisible(shown);
    if (shown) controls_.Resetbox->raise();
  };
  hooks.entry_takes_value = [this] { return cv_commands_.CvBoxWriting() && cv_commands_.CvBoxAwaitingValue(); };
  return hooks;
}

void TForm1::ConnectCvCommands() {
  const std::pair<QPushButton*, void (TForm1::*)()> buttons[] = {
      {cv_box_->EndButton(), &TForm1::CVRWEndeClick},
      {controls_.ResetOK, &TForm1::ResetOKClick},
      {controls_.ResetNot, &TForm1::ResetNotClick},
  };
  for (const auto& [button, handler] : buttons) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { guard_.Run([this, handler] { (this->*handler)(); }); });
  }
  cv_box_->Entry()->installEventFilter(this);
  controls_.Decoder->installEventFilter(this);
}

void TForm1::ConnectTryOut() {
  const auto run = [this](void (TForm1::*handler)()) {
    return [this, handler] { guard_.Run([this, handler] { (this->*handler)(); }); };
  };
  OnChecked(tryout_panel_->SpeedButton(14), [this] { SpeedButton14Click(); });
  OnChecked(tryout_panel_->SpeedButton(28), [this] { SpeedButton28Click(); });
  OnChecked(tryout_panel_->SpeedButton(128), [this] { SpeedButton128Click(); });
  OnChecked(tryout_panel_->TurnoutButton(true), [this] { WeicheButton1Click(); });
  OnChecked(tryout_panel_->TurnoutButton(false), [this] { WeicheButton2Click(); });
  // Every change of position, by the user or by a narrower range.
  connect(tryout_panel_->Regulator(), &QScrollBar::valueChanged, this, run(&TForm1::ReglerChange));
  // Every change of a box sends, whatever made it: a click, the keyboard, a screen
  // reader's Toggle action. (The program never sets them itself.)
  connect(tryout_panel_->LightBox(), &QCheckBox::toggled, this, run(&TForm1::FLcheckClick));
  for (int n = 1; n <= 12; ++n) {
    connect(tryout_panel_->FunctionBox(n), &QCheckBox::toggled, this,
            [this, n] { guard_.Run([this, n] { FcheckClick(n); }); });
  }
  connect(tryout_panel_->EndButton(), &QPushButton::clicked, this, run(&TForm1::SteuerEndeButtonClick));
  tryout_panel_->AddressEntry()->installEventFilter(this);
}

void TForm1::ConnectCurveEditor() {
  for (int n = 1; n <= CurvePanel::kBars; ++n) {
    QScrollBar* bar = curve_panel_->Bar(n);
    // Every change of position, by the user or by the editor itself.
    connect(bar, &QScrollBar::valueChanged, this, [this, n] { guard_.Run([this, n] { ScrollBarChange(n); }); });
    bar->installEventFilter(this);
  }
  for (int mode = 0; mode < CurvePanel::kModes; ++mode) {
    OnChecked(curve_panel_->ModeButton(mode), [this, mode] { KennlwahlClick(mode); });
  }
  connect(curve_panel_->ApplyButton(), &QPushButton::clicked, this, [this] { guard_.Run([this] { KennOKClick(); }); });
  connect(curve_panel_->CancelButton(), &QPushButton::clicked, this,
          [this] { guard_.Run([this] { KennNixClick(); }); });
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (const int n = curve_panel_->BarNumber(watched)) guard_.Run([this, n] { ScrollBarEnter(n); });
  } else if (event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (watched == cv_box_->Entry() || watched == controls_.Decoder) {
      guard_.Run([this, key] { CVeditKeyPress(key); });
    } else if (watched == tryout_panel_->AddressEntry()) {
      guard_.Run([this, key] { SteuerEditKeyPress(key); });
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::CheckByProgram(QRadioButton* button) {
  guard_.RunAsPartOfCaller([button] { button->setChecked(true); });
}

// --- Start-up.

void TForm1::Start() {
  // The port's stored settings say "connected": it opens once the window is loaded.
  guard_.Run([this] {
    port_.BeginLoading();
    port_.SetConnected(true);
    port_.EndLoading();
  });
  guard_.Run([this] { FormCreate(); });
}

void TForm1::FormCreate() {
  // The track link made the transmit request (TxRequest) when it was built.
  setWindowTitle(kFormTitle);
  // The engine made the fixed streams (ResetBurst among them) when it was built.
  state_.ProgrammingMode = "dir";
  ShowProgrammingMode();
  try {
    CheckByProgram(hardware_panel_->Qarn());
    engine_.SetUpHardware(link::kBoard);
    CheckByProgram(port_panel_->Com1());
    port_.SetPort("COM1");
  } catch (...) {
    // A try-out must never drive address 0 (every locomotive), so the defaults hold
    // even when the port could not be opened.
    state_.LocoAddress = 3;
    state_.SpeedSteps = 14;
    throw;
  }
  state_.LocoAddress = 3;
  state_.SpeedSteps = 14;
}

void TForm1::ShowCentred() {
  show();
  // The frame's size is known only once the window is on screen.
  const QSize frame_extra = frameGeometry().size() - geometry().size();
  resize(QSize(kOuterWidth, kOuterHeight) - frame_extra);
  if (QScreen* s = screen()) {
    const QRect area = s->availableGeometry();
    move(area.center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
  }
}

// --- Decoder files.

const std::string& TForm1::DecoderFileName() const { return sheet_files_->DecoderFileName(); }

void TForm1::OeffnenDecoderClick() { sheet_files_->Open(); }
void TForm1::OpenAtStart(const std::string& path) { guard_.Run([this, &path] { sheet_files_->OpenFile(path); }); }

void TForm1::SpeichernDecoderClick() { sheet_files_->Save(); }

void TForm1::JmriImportClick() { sheet_files_->ImportRoster(); }

void TForm1::JmriExportClick() { sheet_files_->ExportRoster(); }

void TForm1::ProtokollClick() {
  if (!track_log_) track_log_ = std::make_unique<TrackLogWindow>(engine_.Log(), this);
  track_log_->show();
  track_log_->raise();
  track_log_->activateWindow();
}

void TForm1::SpeichernunterDecoderClick() { sheet_files_->SaveUnder(); }

void TForm1::Druckereinrichten1Click() { sheet_files_->SetUpPrinter(); }

void TForm1::druckenDecoderClick() { sheet_files_->Print(); }

// --- Panels.

void TForm1::HideAllPanels() {
  state_.AbortFlag = true;
  mode_panel_->Hide();
  cv_box_->HideCvBox();
  hardware_panel_->Hide();
  tryout_panel_->HideTryOutPanel();
  curve_panel_->HideCurvePanel();
}

void TForm1::ShowProgrammingMode() {
  mode_panel_->UncheckAll();
  if (QRadioButton* button = mode_panel_->ButtonFor(state_.ProgrammingMode)) CheckByProgram(button);
  // A decoder file's mode line may bring any characters.
  controls_.Label2->setText(FromCp1252(state_.ProgrammingMode));
}

void TForm1::ProgmodewClick() {
  HideAllPanels();
  mode_panel_->Show();
}

void TForm1::ProgModeClick(std::size_t i) {
  link_.WaitTicks(kChoiceWaitTicks);
  state_.ProgrammingMode = kModeChoices[i].mode;
  mode_panel_->Hide();
  controls_.Label2->setText(QString::fromStdString(state_.ProgrammingMode));
}

// --- Programming hardware.

void TForm1::HardwareWahlClick() {
  HideAllPanels();
  hardware_panel_->Show();
}

void TForm1::ButtonQARNClick() { ChooseHardware(link::kBoard); }

void TForm1::ButtonBoosterClick() { ChooseHardware(link::kBooster); }

void TForm1::ButtonLGBClick() { ChooseHardware(link::kLgbInterface); }

void TForm1::ButtonLenzClick() { ChooseHardware(link::kLenzInterface); }

void TForm1::ButtonPR1Click() { ChooseHardware(link::kPr1); }

void TForm1::ButtonDCCEXClick() { ChooseHardware(link::kDccEx); }

void TForm1::ChooseHardware(int kind) {
  const link::HardwareChoice& choice = link::ChoiceOf(kind);
  if (choice.waits) link_.WaitTicks(kChoiceWaitTicks);
  const int previous = link_.HardwareKind;
  link_.HardwareKind = kind;
  hardware_panel_->Hide();
  for (std::string_view item : choice.enabled) menu_->SetEnabled(item, true);
  for (std::string_view item : choice.disabled) menu_->SetEnabled(item, false);
  // A bare booster gives no acknowledge: reading all CVs would only fill the sheet
  // with "?". Offered again with the board once a file has been opened.
  if (sheet_files_->SheetLoaded()) menu_->SetEnabled("leseAlleCVs", kind != link::kBooster);
  menu_->SetEnabled("Erkennen1", kind != link::kBooster);  // it reads CV 8 and CV 7
  if (!link_.SpeaksMessages()) PutTitleBack();
  ShowDiagramFor(kind);
  switch (choice.set_up) {
    case link::HardwareChoice::SetUp::kNone:
      break;
    case link::HardwareChoice::SetUp::kBoard:
      engine_.SetUpHardware(kind);
      // After the LGB interface nothing repeats: the resets start at once, so the
      // track does not stand powered without a signal.
      if (previous == link::kLgbInterface || previous == link::kDccEx) link_.RestartBackground();
      break;
    case link::HardwareChoice::SetUp::kDccEx:
      // The title says what is waited for (the station restarts when its port opens),
      // and stays saying so when it never answered.
      TitleWhileWaitingForStation([this, kind](const auto& progress) { return engine_.SetUpHardware(kind, progress); });
      break;
    case link::HardwareChoice::SetUp::kLgb:
      // The interface knows the direct mode only.
      state_.ProgrammingMode = "dir";
      ShowProgrammingMode();
      if (engine_.SetUpHardware(kind)) {
        PutTitleBack();
      } else if (title_before_no_lgb_.isNull()) {
        title_before_no_lgb_ = windowTitle();
        setWindowTitle(kNoLgbTitle);
      }
      break;
  }
}

void TForm1::ShowDiagramFor(int kind) {
  const bool station = kind == link::kDccEx;
  controls_.Image1->setPixmap(station ? DrawStationDiagram() : DrawConnectionDiagram());
  controls_.Image1->setAccessibleDescription(station ? StationDiagramInWords() : ConnectionDiagramInWords());
}

void TForm1::TitleWhileWaitingForStation(
    const std::function<bool(const std::function<void(const std::string&)>&)>& wait) {
  PutTitleBack();
  title_before_no_lgb_ = windowTitle();
  if (wait([this](const std::string& text) { setWindowTitle(FromCp1252(text)); })) PutTitleBack();
}

void TForm1::PutTitleBack() {
  if (title_before_no_lgb_.isNull()) return;
  setWindowTitle(title_before_no_lgb_);
  title_before_no_lgb_ = QString();
}

// --- CV commands.

void TForm1::leseCVClick() { cv_commands_.OpenCvBox(false); }

void TForm1::SchreibeCVClick() { cv_commands_.OpenCvBox(true); }

void TForm1::leseAlleCVsClick() {
  if (cv_commands_.ReadAllCvs(*sheet_)) cv_box_->AnnounceResult();
}

void TForm1::vergleicheCVsClick() {
  const std::optional<programming::SheetComparison> comparison = cv_commands_.CompareAllCvs(*sheet_);
  if (!comparison) return;
  cv_box_->AnnounceResult();
  if (!compare_result_) compare_result_ = std::make_unique<CompareResult>(this);
  compare_result_->Show(*comparison, engine_.State().ProgrammingMode);
}

void TForm1::schreibealleCVsClick() {
  if (cv_commands_.WriteAllCvs(*sheet_)) cv_box_->AnnounceResult();
}

void TForm1::CVRWEndeClick() { cv_commands_.EndCvBox(); }

void TForm1::CVeditKeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
  // A hidden box takes no Enter: typed into the sheet it would run a step the user
  // cannot see (a write cancelled with "ENDE" going out after all).
  if (cv_box_->Box()->isHidden() || cv_box_->Entry()->isHidden()) return;
  // An Enter while a CV command waits is refused with a word, and that command
  // announces its own end.
  cv_commands_.EnterInCvBox(cv_box_->EntryText());
  cv_box_->AnnounceResult();
}

void TForm1::Reset1Click() { cv_commands_.OfferFactoryReset(); }

void TForm1::ResetOKClick() { cv_commands_.ConfirmFactoryReset(); }

void TForm1::ResetNotClick() { cv_commands_.DeclineFactoryReset(); }

void TForm1::Erkennen1Click() { IdentifyDecoder(engine_, this, *dialogs_, definitions_folder_); }

void TForm1::DefinitionSheetClick() {
  if (!cv_commands_.Busy()) MakeSheetFromDefinition(this, *sheet_files_, *dialogs_, definitions_folder_);
}

// --- Try-outs.

void TForm1::LokprobierClick() { tryout_.OpenLocomotiveTryOut(); }

void TForm1::WeicheprobierClick() { tryout_.OpenTurnoutTryOut(); }

void TForm1::FunktionsdecprobierClick() { tryout_.OpenFunctionTryOut(); }

void TForm1::SteuerEditKeyPress(int key) {
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return;
  tryout_.EnterAddress(tryout_panel_->AddressText());
}

void TForm1::SpeedButton14Click() { tryout_.ChooseSpeedSteps(14); }

void TForm1::SpeedButton28Click() { tryout_.ChooseSpeedSteps(28); }

void TForm1::SpeedButton128Click() { tryout_.ChooseSpeedSteps(128); }

void TForm1::ReglerChange() { tryout_.RegulatorChanged(tryout_panel_->Regulator()->value()); }

void TForm1::FLcheckClick() { tryout_.SetLight(tryout_panel_->LightBox()->isChecked()); }

void TForm1::FcheckClick(int n) { tryout_.SetFunction(n, tryout_panel_->FunctionBox(n)->isChecked()); }

void TForm1::WeicheButton1Click() { tryout_.ChooseTurnout(true); }

void TForm1::WeicheButton2Click() { tryout_.ChooseTurnout(false); }

void TForm1::SteuerEndeButtonClick() { tryout_.End(); }

// --- Speed curve.

void TForm1::KennlinieClick() { curve_editor_->Open(*sheet_); }

void TForm1::ScrollBarChange(int n) { curve_editor_->BarChanged(n, curve_panel_->Bar(n)->value()); }

void TForm1::ScrollBarEnter(int n) { curve_editor_->BarFocused(n); }

void TForm1::KennlwahlClick(int mode) { curve_editor_->ChooseMode(mode); }

void TForm1::KennOKClick() { curve_editor_->Apply(*sheet_); }

void TForm1::KennNixClick() { curve_editor_->Cancel(*sheet_); }

// --- Ports.

void TForm1::PortsClick() { port_panel_->Show(); }

void TForm1::ButtonCOM1Click() { MovePortTo("COM1"); }

void TForm1::ButtonCOM2Click() { MovePortTo("COM2"); }

void TForm1::MovePortTo(const std::string& name) {
  link_.MovePort(name, [this] { port_panel_->Hide(); });
  // A station on the port just opened restarts: nothing goes to it before its banner.
  if (link_.HardwareKind == link::kDccEx) {
    TitleWhileWaitingForStation([this](const auto& progress) { return link::AwaitStationBanner(link_, true, progress); });
  }
}

void TForm1::PortDevicesClick() {
  OpenPortDevices(this, engine_, port_sources_, [this](const std::string& m) { guard_.Report(m); },
                  [this](const std::string& port) {
                    guard_.Run([this, port] { port == "COM1" ? ButtonCOM1Click() : ButtonCOM2Click(); });
                  });
}

// --- Information views and the end.

void TForm1::berQARN3Click() {
  controls_.Infolabel->show();
  controls_.Infolabel->raise();
}

void TForm1::InfolabelClick() { controls_.Infolabel->hide(); }

void TForm1::AnschlsseClick() {
  // Whoever typed in the sheet gets the picture, which Enter closes again.
  const bool typing = focusWidget() == controls_.Decoder;
  controls_.Decoder->hide();
  controls_.Image1->show();
  controls_.Image1->raise();
  if (typing) controls_.Image1->setFocus();
}

void TForm1::Image1Click() {
  const bool focused = focusWidget() == controls_.Image1;
  controls_.Image1->hide();
  controls_.Decoder->show();
  if (focused) controls_.Decoder->setFocus();
}

void TForm1::ENDEClick() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
  guard_.Run([this] { port_.Close(); });
  event->accept();
}

}  // namespace qarn2::ui
