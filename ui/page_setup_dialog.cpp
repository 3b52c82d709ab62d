#include "ui/page_setup_dialog.h"
#include "ui/qt_translations.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

namespace qarn2::ui {
namespace {

// The papers offered, the usual office sizes.
constexpr QPageSize::PageSizeId kPapers[] = {QPageSize::A4, QPageSize::A5, QPageSize::A3,
                                             QPageSize::B5, QPageSize::Letter, QPageSize::Legal};
// The combo box's data for the printer's own paper, when it is none of those.
constexpr int kOwnSize = -1;
// Widest margin a field takes: more leaves no room for a line on A5.
constexpr double kMaxMarginMm = 50.0;
// The margin fields show tenths of a millimetre.
constexpr int kMarginDecimals = 1;

}  // namespace

PageSetupDialog::PageSetupDialog(QPrinter& printer, QWidget* parent) : QDialog(parent), printer_(printer) {
  setObjectName("PageSetupDialog");
  setWindowTitle("Drucker einrichten");
  const QPageLayout page = printer.pageLayout();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QPrinterInfo::availablePrinterNames().isEmpty()
                                   ? "Kein Drucker eingerichtet: gedruckt wird in eine PDF-Datei."
                                   : "Gedruckt wird in eine PDF-Datei.",
                               this));
  BuildPaperFields(page);
  BuildMarginFields(page);
  layout->addWidget(GermanOkCancel(*this));
}

void PageSetupDialog::BuildPaperFields(const QPageLayout& page) {
  auto* box = new QGroupBox("Papier", this);
  auto* form = new QFormLayout(box);
  paper_ = new QComboBox(box);
  paper_->setObjectName("Papierformat");
  const QPageSize size = page.pageSize();
  if (std::find(std::begin(kPapers), std::end(kPapers), size.id()) == std::end(kPapers)) {
    own_size_ = size;
    paper_->addItem(size.name(), kOwnSize);
  }
  for (QPageSize::PageSizeId id : kPapers) paper_->addItem(QPageSize(id).name(), static_cast<int>(id));
  paper_->setCurrentIndex(own_size_.isValid() ? 0 : paper_->findData(static_cast<int>(size.id())));
  form->addRow("&Format:", paper_);

  auto* orientation = new QWidget(box);
  auto* row = new QHBoxLayout(orientation);
  row->setContentsMargins(0, 0, 0, 0);
  portrait_ = new QRadioButton("&Hochformat", orientation);
  portrait_->setObjectName("Hochformat");
  landscape_ = new QRadioButton("&Querformat", orientation);
  landscape_->setObjectName("Querformat");
  row->addWidget(portrait_);
  row->addWidget(landscape_);
  row->addStretch();
  (page.orientation() == QPageLayout::Landscape ? landscape_ : portrait_)->setChecked(true);
  form->addRow("Ausrichtung:", orientation);
  layout()->addWidget(box);
}

void PageSetupDialog::BuildMarginFields(const QPageLayout& page) {
  auto* box = new QGroupBox("R\u00e4nder", this);
  auto* grid = new QGridLayout(box);
  const QMarginsF now = page.margins(QPageLayout::Millimeter);
  margins_mm_ = {now.left(), now.top(), now.right(), now.bottom()};
  struct Field {
    const char* name;
    const char* caption;
    int row, column;
  };
  const Field fields[4] = {
      {"RandLinks", "&Links:", 0, 0},
      {"RandOben", "&Oben:", 1, 0},
      {"RandRechts", "&Rechts:", 0, 2},
      {"RandUnten", "&Unten:", 1, 2},
  };
  for (std::size_t i = 0; i < margins_.size(); ++i) {
    const Field& field = fields[i];
    auto* spin = new QDoubleSpinBox(box);
    spin->setObjectName(field.name);
    spin->setDecimals(kMarginDecimals);
    spin->setRange(0.0, kMaxMarginMm);
    spin->setSingleStep(1.0);
    spin->setSuffix(" mm");
    spin->setValue(margins_mm_[i]);  // rounded to the field's tenths
    margins_shown_[i] = spin->value();
    auto* label = new QLabel(QString::fromUtf8(field.caption), box);
    label->setBuddy(spin);
    grid->addWidget(label, field.row, field.column);
    grid->addWidget(spin, field.row, field.column + 1);
    margins_[i] = spin;
  }
  layout()->addWidget(box);
}

QPageLayout PageSetupDialog::ChosenLayout() const {
  const int chosen = paper_->currentData().toInt();
  const QPageSize size = chosen == kOwnSize ? own_size_ : QPageSize(static_cast<QPageSize::PageSizeId>(chosen));
  // A field left as it was keeps the printer's margin exactly, not its rounded value.
  std::array<double, 4> mm{};
  for (std::size_t i = 0; i < mm.size(); ++i) {
    const double shown = margins_[i]->value();
    mm[i] = shown == margins_shown_[i] ? margins_mm_[i] : shown;
  }
  return QPageLayout(size, landscape_->isChecked() ? QPageLayout::Landscape : QPageLayout::Portrait,
                     QMarginsF(mm[0], mm[1], mm[2], mm[3]), QPageLayout::Millimeter);
}

void PageSetupDialog::accept() {
  const QPageLayout chosen = ChosenLayout();
  // The printer takes margins wider than its paper without a word.
  const QRectF paper = chosen.fullRect(QPageLayout::Millimeter);
  const QMarginsF margins = chosen.margins(QPageLayout::Millimeter);
  const bool room = margins.left() + margins.right() < paper.width() &&
                    margins.top() + margins.bottom() < paper.height();
  if (!room || !printer_.setPageLayout(chosen)) {
    QMessageBox::warning(this, windowTitle(),
                         "Die R\u00e4nder lassen auf diesem Papier keinen Platz. "
                         "Bitte schmalere R\u00e4nder w\u00e4hlen.");
    return;
  }
  QDialog::accept();
}

}  // namespace qarn2::ui
