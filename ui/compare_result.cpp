#include "ui/compare_result.h"

#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "sheet/code_page.h"

namespace qarn2::ui {

CompareResult::CompareResult(QWidget* parent) : QDialog(parent), list_(new QPlainTextEdit(this)) {
  setObjectName("Vergleich");
  setWindowTitle(QString::fromUtf8("Vergleich mit dem Decoder"));
  setModal(false);
  list_->setObjectName("VergleichListe");
  list_->setReadOnly(true);
  list_->setAccessibleName(QString::fromUtf8("Unterschiede zum Blatt"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setText(QString::fromUtf8("Schlie\u00dfen"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addWidget(buttons);
  resize(360, 300);
}

void CompareResult::Show(const programming::SheetComparison& comparison, const std::string& mode) {
  if (comparison.Failures() == 0 && !comparison.acknowledges_anything) {
    hide();
    return;
  }
  std::string text = programming::ComparisonEndText(comparison) + "\n";
  for (const programming::CvComparison& line : comparison.lines) {
    const std::string shown = programming::ComparisonText(line, mode);
    if (!shown.empty()) text += "\n" + shown;
  }
  list_->setPlainText(QString::fromStdString(sheet::Cp1252ToUtf8(text)));
  show();
  raise();
}

QString CompareResult::Text() const { return list_->toPlainText(); }

}  // namespace qarn2::ui
