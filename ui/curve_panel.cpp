#include "ui/curve_panel.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include <algorithm>

#include "ui/entry_bar.h"
#include "ui/text_codec.h"

namespace qarn2::ui {
namespace {

// The panel's frame on the window.
constexpr int kLeft = 80;
constexpr int kTop = 40;
constexpr int kWidth = 529;
constexpr int kHeight = 377;
// The bars: 28 side by side, 2 pixels apart, centred in the box below its caption.
constexpr int kBarWidth = 16;
constexpr int kBarPitch = 18;
constexpr int kBarsWidth = (CurvePanel::kBars - 1) * kBarPitch + kBarWidth;
constexpr int kBarsLeft = (kWidth - kBarsWidth) / 2;
constexpr int kBarsRight = kBarsLeft + kBarsWidth;
constexpr int kBarTop = 22;
constexpr int kBarHeight = 268;
// The end labels under the bars, the row of curve choices, and the bottom row with
// the value line and the two buttons.
constexpr int kEndLabelTop = kBarTop + kBarHeight + 2;
constexpr int kEndLabelWidth = 50;
constexpr int kLineHeight = 17;
constexpr int kChoiceTop = 316;
constexpr int kButtonTop = 342;
constexpr int kButtonWidth = 90;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 8;
// A bar's range: position 0 at the top is entry 255, position 255 at the bottom entry 0.
constexpr int kMaxPosition = 255;
// Bar 1 sets CV 67.
constexpr int kFirstCv = 67;

// The curve choices in one row under the bars, as wide as the bars together.
struct ModeChoice {
  const char* name;
  const char* caption;
  int width;
};
constexpr ModeChoice kModeChoices[CurvePanel::kModes] = {
    {"KennlwahlEinzel", "Einzeln", 80},
    {"KennlwahlGerade", "Gerade", 80},
    {"KennlwahlBogen", "+/- Kreisbogen", 114},
    {"KennlwahlQuadrat", "+ Quadratlinie", 114},
    {"KennlwahlE", "+ e- Funktion", 114},
};
static_assert(80 + 80 + 3 * 114 == kBarsWidth);
// "+ e- Funktion" goes with the box only.
constexpr std::size_t kSwitchedModes = 4;

template <typename W>
W* Place(W* widget, const QString& name, int left, int top, int width, int height) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top, int width,
                  Qt::Alignment alignment) {
  auto* label = Place(new QLabel(text, parent), name, left, top, width, kLineHeight);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(alignment | Qt::AlignVCenter);
  return label;
}

}  // namespace

CurvePanel::CurvePanel(QWidget* client, WindowHooks hooks)
    : box_(new QGroupBox("Geschwindigkeitskennlinie", client)), hooks_(std::move(hooks)) {
  Place(box_, "Kennlinienbox", kLeft, kTop, kWidth, kHeight);
  // The panel covers most of the sheet, whose text must not show between the bars.
  box_->setAutoFillBackground(true);
  BuildBars();
  BuildChoicesAndButtons();
  HideCurvePanel();
}

void CurvePanel::BuildBars() {
  for (int n = 1; n <= kBars; ++n) {
    auto* bar = Place(new EntryBar(box_), QString("ScrollBar%1").arg(n), kBarsLeft + (n - 1) * kBarPitch, kBarTop,
                      kBarWidth, kBarHeight);
    bar->setRange(0, kMaxPosition);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(kMaxPosition);
    // A click or Tab gives a bar the focus (which shows its entry); the arrow keys then
    // move it a step at a time.
    bar->setFocusPolicy(Qt::StrongFocus);
    // Told by the CV it sets, as the end labels call the first and the last.
    bar->setAccessibleName(QString("CV %1").arg(kFirstCv - 1 + n));
    bar->setAccessibleDescription(QString::fromUtf8("Kennlinie Fahrstufe %1, Wert 0 bis 255").arg(n));
    bars_[static_cast<std::size_t>(n - 1)] = bar;
  }
  first_label_ = MakeLabel(box_, "KennLabel1", "CV 67", kBarsLeft, kEndLabelTop, kEndLabelWidth, Qt::AlignLeft);
  last_label_ = MakeLabel(box_, "KennLabel2", "CV 94", kBarsRight - kEndLabelWidth, kEndLabelTop, kEndLabelWidth,
                          Qt::AlignRight);
}

void CurvePanel::BuildChoicesAndButtons() {
  // The five choices are the only radio buttons in the box: one group.
  int left = kBarsLeft;
  for (int mode = 0; mode < kModes; ++mode) {
    const ModeChoice& choice = kModeChoices[mode];
    modes_[static_cast<std::size_t>(mode)] = Place(new QRadioButton(QString::fromUtf8(choice.caption), box_),
                                                   choice.name, left, kChoiceTop, choice.width, kLineHeight);
    left += choice.width;
  }
  cancel_ = Place(new QPushButton("abbrechen", box_), "KennNix", kBarsRight - kButtonWidth, kButtonTop, kButtonWidth,
                  kButtonHeight);
  apply_ = Place(new QPushButton(QString::fromUtf8("\u00fcbernehmen"), box_), "KennOK",
                 cancel_->x() - kButtonGap - kButtonWidth, kButtonTop, kButtonWidth, kButtonHeight);
  // On the buttons' line, left of them.
  value_ = MakeLabel(box_, "KennlWert", "Wert", kBarsLeft, kButtonTop + (kButtonHeight - kLineHeight) / 2,
                     apply_->x() - kButtonGap - kBarsLeft, Qt::AlignLeft);
  apply_->setAccessibleDescription(QString::fromUtf8("Kennlinie ins Decoderblatt \u00fcbernehmen"));
  cancel_->setAccessibleDescription(QString::fromUtf8("\u00c4nderungen verwerfen"));
  value_->setAccessibleDescription(QString::fromUtf8("zuletzt ber\u00fchrte Stufe"));
}

int CurvePanel::BarNumber(const QObject* object) const {
  const auto at = std::find(bars_.begin(), bars_.end(), object);
  return at == bars_.end() ? 0 : static_cast<int>(at - bars_.begin()) + 1;
}

void CurvePanel::HideAllPanels() { hooks_.hide_all_panels(); }

void CurvePanel::ShowCurvePanel() {
  hooks_.as_part_of_caller([this] { modes_[0]->setChecked(true); });
  box_->show();
  box_->raise();
  for (QScrollBar* bar : bars_) bar->show();
  first_label_->show();
  last_label_->show();
  value_->show();
  for (std::size_t i = 0; i < kSwitchedModes; ++i) modes_[i]->show();
  cancel_->show();
  apply_->show();
}

void CurvePanel::HideCurvePanel() {
  // "+ e- Funktion" stays as it is: it goes with the box.
  box_->hide();
  for (QScrollBar* bar : bars_) bar->hide();
  first_label_->hide();
  last_label_->hide();
  value_->hide();
  for (std::size_t i = 0; i < kSwitchedModes; ++i) modes_[i]->hide();
  cancel_->hide();
  apply_->hide();
}

void CurvePanel::SetBarPosition(int bar, int position) {
  // A move runs the bar's handler inside this call; that handler may set further bars
  // in turn (the editor's own guard ends the recursion).
  QScrollBar* scroll_bar = Bar(bar);
  hooks_.as_part_of_caller([scroll_bar, position] { scroll_bar->setValue(position); });
}

void CurvePanel::ShowValue(const std::string& text) { value_->setText(FromCp1252(text)); }

}  // namespace qarn2::ui
