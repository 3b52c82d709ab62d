#include "ui/cv_box.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/live_label.h"
#include "ui/text_codec.h"

namespace qarn2::ui {
namespace {

// Sets what screen readers are told only when it changes: each change is announced.
void Describe(QWidget* widget, const QString& description) {
  if (widget->accessibleDescription() != description) widget->setAccessibleDescription(description);
}

template <typename Label = QLabel>
QLabel* MakeLine(QGroupBox* box, const char* name, const char* text, int top) {
  auto* label = new Label(text, box);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);  // the engine's texts are never markup
  label->setGeometry(12, top, 161, 17);
  return label;
}

}  // namespace

CvBox::CvBox(QWidget* client, WindowHooks hooks)
    : box_(new QGroupBox("GroupCVRW", client)), hooks_(std::move(hooks)) {
  box_->setObjectName("GroupCVRW");
  box_->setGeometry(208, 64, 185, 129);
  // Inside the 185 x 129 frame, below its caption: prompt, entry, result, button.
  prompt_ = MakeLine(box_, "CVLabel1", "eingeben:", 20);
  entry_ = new QLineEdit(box_);
  entry_->setObjectName("CVedit");
  entry_->setGeometry(12, 40, 97, 21);
  result_ = MakeLine<LiveLabel>(box_, "CVResult", "Ergebnis:", 68);
  end_ = new QPushButton("ENDE", box_);
  end_->setObjectName("CVRWEnde");
  end_->setGeometry(12, 94, 75, 25);
  // The result line is read as the text it shows; these say what it and "ENDE" are.
  result_->setAccessibleDescription("Ergebnis");
  end_->setAccessibleDescription(QString::fromUtf8("CV-Fenster schlie\u00dfen"));
  NameEntry();
  HideCvBox();
}

std::string CvBox::EntryText() const { return ToCp1252(entry_->text()); }

void CvBox::AnnounceResult() {
  const QString outcome = result_->text().trimmed();
  Describe(entry_, outcome);
  Describe(box_, outcome);
}

void CvBox::NameEntry() {
  const bool value_step = hooks_.entry_takes_value && hooks_.entry_takes_value();
  const QString name = value_step ? "CV-Wert" : "CV-Nummer";
  if (entry_->accessibleName() != name) entry_->setAccessibleName(name);
}

void CvBox::HideAllPanels() { hooks_.hide_all_panels(); }

void CvBox::ShowCvBox(const std::string& caption, bool with_entry) {
  box_->setTitle(FromCp1252(caption));
  NameEntry();
  box_->show();
  box_->raise();
  prompt_->show();
  result_->show();
  end_->show();
  entry_->setVisible(with_entry);
  if (with_entry) {
    // The last entry stays, selected: typing replaces it (after reading CV 29, "3"
    // must not make CV 293).
    entry_->setFocus();
    entry_->selectAll();
  }
}

void CvBox::HideCvBox() {
  box_->hide();
  entry_->hide();
  result_->hide();
  end_->hide();
  prompt_->hide();
}

void CvBox::SetCvBoxCaption(const std::string& text) { box_->setTitle(FromCp1252(text)); }

void CvBox::SetCvPrompt(const std::string& text) {
  // The prompt changes with the step.
  prompt_->setText(FromCp1252(text));
  NameEntry();
}

void CvBox::SetCvResult(const std::string& text) {
  result_->setText(FromCp1252(text));
  // A command starts by emptying the line: the outcome it announces then differs from
  // the one before, even when it is the same text.
  if (text.empty()) AnnounceResult();
}

void CvBox::ClearCvEntry() { entry_->clear(); }

void CvBox::SetMenuItemEnabled(std::string_view name, bool enabled) {
  hooks_.set_menu_item_enabled(name, enabled);
}

void CvBox::ShowResetBox(bool shown) { hooks_.show_reset_box(shown); }

void CvBox::CommandRunning(bool running) { hooks_.command_running(running); }

}  // namespace qarn2::ui
