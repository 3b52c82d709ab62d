#include "ui/tryout_panel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "ui/text_codec.h"

namespace qarn2::ui {
namespace {

// The panel's frame on the window, and the inner margin of its controls.
constexpr int kLeft = 208;
constexpr int kTop = 64;
constexpr int kWidth = 265;
constexpr int kHeight = 329;
constexpr int kMargin = 12;
constexpr int kInnerWidth = kWidth - 2 * kMargin;
constexpr int kLineHeight = 17;
// The function boxes: four to a row, F1..F4, F5..F8, F9..F12.
constexpr int kFunctionColumns = 4;
constexpr int kFunctionColumnWidth = 60;
constexpr int kFunctionTop = 122;
constexpr int kFunctionRowHeight = 20;
// F1..F8 are shown and hidden one by one; F9..F12 only with the box.
constexpr std::size_t kSwitchedFunctions = 8;
// The regulator starts in 14-step mode.
constexpr int kStartSteps = 14;

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int top) {
  auto* label = Place(new QLabel(text, parent), name, kMargin, top, kInnerWidth, 15);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  return label;
}

// What the address entry takes in each try-out (its label shows a short form).
QString EntryName(tryout::TryOutKind kind) {
  switch (kind) {
    case tryout::TryOutKind::kLocomotive:
      return "Lokadresse";
    case tryout::TryOutKind::kTurnout:
      return "Weichennummer";
    case tryout::TryOutKind::kFunction:
      break;
  }
  return "Decoderadresse";
}

}  // namespace

TryOutPanel::TryOutPanel(QWidget* client, WindowHooks hooks)
    : box_(new QGroupBox("Decoder ausprobieren", client)), hooks_(std::move(hooks)) {
  Place(box_, "Steuerbox", kLeft, kTop, kWidth, kHeight);
  BuildAddressAndSpeedControls();
  BuildTurnoutBox();
  BuildFunctionBoxes();
  BuildRegulator();
  end_ = Place(new QPushButton("Ende", box_), "SteuerEndeButton", (kWidth - 75) / 2, 290, 75, 25);
  end_->setAccessibleDescription("Ausprobieren beenden");
  entry_->setAccessibleName(EntryName(tryout::TryOutKind::kFunction));
  entry_->setAccessibleDescription("mit Enter 0 bis 127 \u00fcbernehmen");
  HideTryOutPanel();
}

void TryOutPanel::BuildAddressAndSpeedControls() {
  address_label_ = Place(new QLabel("Adresse", box_), "Steuerlabel1", kMargin, 24, 72, kLineHeight);
  address_label_->setTextFormat(Qt::PlainText);
  entry_ = Place(new QLineEdit(box_), "SteuerEdit", 88, 22, 65, 21);
  // Directly in the box, apart from the turnout buttons: one group of their own. The
  // button group keeps the turnout buttons, which stand in a box inside this one, out
  // of it for the keyboard too (Tab would pass them by once a speed button had the
  // focus).
  steps14_ = Place(new QRadioButton("  14 Speedsteps", box_), "SpeedButton14", kMargin, 52, 121, kLineHeight);
  steps28_ = Place(new QRadioButton("  28 Speedsteps", box_), "SpeedButton28", kMargin, 72, 121, kLineHeight);
  steps128_ = Place(new QRadioButton("128 Speedsteps", box_), "SpeedButton128", kMargin, 92, 121, kLineHeight);
  auto* steps = new QButtonGroup(box_);
  for (QRadioButton* button : {steps14_, steps28_, steps128_}) steps->addButton(button);
  // The try-out stream has no 128-step form: the choice stays disabled.
  steps128_->setEnabled(false);
  // Said without the blanks that align the captions.
  for (QRadioButton* button : {steps14_, steps28_, steps128_}) button->setAccessibleName(button->text().trimmed());
}

void TryOutPanel::BuildTurnoutBox() {
  // In the place of the speed-step buttons, which the turnout try-out does not show.
  turnout_box_ = Place(new QGroupBox(box_), "Weichenbox", kMargin, 48, 121, 70);
  links_ = Place(new QRadioButton("links", turnout_box_), "WeicheButton1", 12, 24, 97, kLineHeight);
  rechts_ = Place(new QRadioButton("rechts", turnout_box_), "WeicheButton2", 12, 44, 97, kLineHeight);
  // Named by its caption ("Weiche n") once it has one; without a name of its own it
  // would be called after the panel around it.
  turnout_box_->setAccessibleName("Weiche");
  links_->setAccessibleDescription("Weiche nach links stellen");
  rechts_->setAccessibleDescription("Weiche nach rechts stellen");
}

void TryOutPanel::BuildFunctionBoxes() {
  for (int i = 0; i < static_cast<int>(functions_.size()); ++i) {
    const QString caption = QString("F%1").arg(i + 1);
    auto* box = new QCheckBox(caption, box_);
    const int left = kMargin + (i % kFunctionColumns) * kFunctionColumnWidth;
    const int top = kFunctionTop + (i / kFunctionColumns) * kFunctionRowHeight;
    Place(box, caption.toLatin1().append("check").constData(), left, top, kFunctionColumnWidth - 4, kLineHeight);
    functions_[static_cast<std::size_t>(i)] = box;
  }
  light_ = Place(new QCheckBox("F0/FL (Licht)", box_), "FLcheck", kMargin, 186, 121, kLineHeight);
}

void TryOutPanel::BuildRegulator() {
  position_ = MakeLabel(box_, "SteuerLabel2", "0", 214);
  regulator_ = Place(new QScrollBar(Qt::Horizontal, box_), "Regler", kMargin, 232, kInnerWidth, kLineHeight);
  regulator_->setRange(-kStartSteps, kStartSteps);
  regulator_->setValue(0);
  regulator_->setSingleStep(1);
  regulator_->setPageStep(1);
  // Reached with Tab like the other controls; the arrow keys then move it a step
  // along its scale: Right towards "vorwärts" (a scroll bar's keys run the other way
  // unless told).
  regulator_->setFocusPolicy(Qt::StrongFocus);
  regulator_->setInvertedControls(false);
  // Its value is the speed step with the direction as its sign.
  regulator_->setAccessibleName("Fahrregler");
  regulator_->setAccessibleDescription(QString::fromUtf8("Fahrstufe: unter 0 r\u00fcckw\u00e4rts, \u00fcber 0 vorw\u00e4rts"));
  position_->setAccessibleDescription("Fahrstufe");
  // Twelve blanks before the "0" and fifteen after it put it about under the middle.
  direction_scale_ = MakeLabel(box_, "Steuerlabel3",
                               QString::fromUtf8("r\u00fcckw\u00e4rts") + QString(12, ' ') + "0" +
                                   QString(15, ' ') + QString::fromUtf8("vorw\u00e4rts"),
                               252);
}

std::string TryOutPanel::AddressText() const { return ToCp1252(entry_->text()); }

QRadioButton* TryOutPanel::SpeedButton(int steps) const {
  switch (steps) {
    case 14:
      return steps14_;
    case 28:
      return steps28_;
    case 128:
      return steps128_;
    default:
      return nullptr;
  }
}

void TryOutPanel::HideAllPanels() { hooks_.hide_all_panels(); }

void TryOutPanel::ShowTryOutPanel(tryout::TryOutKind kind, const std::string& address_label) {
  const bool locomotive = kind == tryout::TryOutKind::kLocomotive;
  const bool turnout = kind == tryout::TryOutKind::kTurnout;
  box_->show();
  box_->raise();
  address_label_->setText(FromCp1252(address_label));
  entry_->setAccessibleName(EntryName(kind));
  address_label_->show();
  entry_->show();
  for (QWidget* w : DriveControls()) w->setVisible(locomotive);
  for (std::size_t i = 0; i < kSwitchedFunctions; ++i) functions_[i]->setVisible(!turnout);
  light_->setVisible(!turnout);
  turnout_box_->setVisible(turnout);
  links_->setVisible(turnout);
  rechts_->setVisible(turnout);
  end_->show();
}

void TryOutPanel::CheckSpeedButton14() {
  hooks_.as_part_of_caller([this] { steps14_->setChecked(true); });
}

void TryOutPanel::SetAddressEntry(const std::string& text) {
  entry_->setText(FromCp1252(text));
  entry_->setFocus();
}

void TryOutPanel::ClearAddressEntry() { entry_->clear(); }

void TryOutPanel::SetTurnoutCaption(const std::string& text) {
  turnout_box_->setTitle(FromCp1252(text));
  turnout_box_->setAccessibleName(turnout_box_->title());
}

bool TryOutPanel::TurnoutBoxShown() const { return !turnout_box_->isHidden(); }

void TryOutPanel::SetRegulatorRange(int minimum, int maximum) {
  // Each step clamps the position at most once (a narrower range moves it to one end
  // only), and a move runs the regulator's handler as part of this command.
  hooks_.as_part_of_caller([this, maximum] { regulator_->setMaximum(maximum); });
  hooks_.as_part_of_caller([this, minimum] { regulator_->setMinimum(minimum); });
}

void TryOutPanel::ShowRegulatorPosition(const std::string& text) { position_->setText(FromCp1252(text)); }

void TryOutPanel::HideTryOutPanel() {
  // F9..F12 and "Ende" stay as they are: they go with the box.
  box_->hide();
  address_label_->hide();
  entry_->hide();
  for (std::size_t i = 0; i < kSwitchedFunctions; ++i) functions_[i]->hide();
  light_->hide();
  for (QWidget* w : DriveControls()) w->hide();
  turnout_box_->hide();
  links_->hide();
  rechts_->hide();
}

std::array<QWidget*, 6> TryOutPanel::DriveControls() const {
  return {steps14_, steps28_, steps128_, position_, regulator_, direction_scale_};
}

}  // namespace qarn2::ui
