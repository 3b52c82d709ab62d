#include "ui/definition_dialog.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <map>
#include <stdexcept>
#include <vector>

#include "decoderdefs/definition_sheet.h"
#include "ui/file_dialogs.h"
#include "ui/sheet_files.h"
#include "ui/qt_translations.h"

namespace qarn2::ui {
namespace {

constexpr int kFileRole = Qt::UserRole;
constexpr int kFamilyRole = Qt::UserRole + 1;

QString Text(const std::string& utf8) { return QString::fromStdString(utf8); }

const char kNoDefinitions[] =
    "Keine JMRI-Decoderdefinitionen gefunden (gesucht in ~/JMRI, /opt/JMRI, /usr/local/JMRI, /usr/share/jmri "
    "und ~/.jmri/decoders)";

}  // namespace

DefinitionDialog::DefinitionDialog(const decoderdefs::DefinitionLibrary& library, QWidget* parent)
    : QDialog(parent), filter_(new QLineEdit(this)), tree_(new QTreeWidget(this)) {
  setObjectName("DefinitionDialog");
  setWindowTitle(QStringLiteral("Decoderblatt aus Definition"));
  filter_->setObjectName("Filter");
  filter_->setPlaceholderText(QStringLiteral("Hersteller, Familie oder Modell"));
  filter_->setAccessibleName(QStringLiteral("Filter"));
  tree_->setObjectName("Modelle");
  tree_->setAccessibleName(QStringLiteral("Hersteller, Familie und Modell"));
  tree_->setHeaderLabels({QStringLiteral("Hersteller / Familie / Modell")});
  tree_->header()->setStretchLastSection(true);

  std::map<std::string, QTreeWidgetItem*> manufacturers;
  for (const decoderdefs::Family& family : library.families) {
    QTreeWidgetItem*& manufacturer = manufacturers[family.manufacturer];
    if (!manufacturer) manufacturer = new QTreeWidgetItem(QStringList{Text(family.manufacturer)});
    auto* family_item = new QTreeWidgetItem(manufacturer, QStringList{Text(family.name)});
    for (const decoderdefs::Model& model : family.models) {
      auto* item = new QTreeWidgetItem(family_item, QStringList{Text(model.name)});
      item->setData(0, kFileRole, Text(family.file.string()));
      item->setData(0, kFamilyRole, Text(family.name));
    }
  }
  for (const auto& [name, item] : manufacturers) tree_->addTopLevelItem(item);

  QDialogButtonBox* buttons = GermanOkCancel(*this);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  ok->setEnabled(false);
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this, ok] { ok->setEnabled(Chosen().has_value()); });
  connect(tree_, &QTreeWidget::itemActivated, this, [this] {
    if (Chosen()) accept();
  });
  connect(filter_, &QLineEdit::textChanged, this, &DefinitionDialog::Filter);
  // Typed down to one model, Enter in the filter takes it.
  connect(filter_, &QLineEdit::returnPressed, this, [this] {
    if (Chosen()) accept();
  });

  auto* label = new QLabel(QStringLiteral("&Filter:"), this);
  label->setBuddy(filter_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(label);
  layout->addWidget(filter_);
  layout->addWidget(tree_);
  layout->addWidget(buttons);
  resize(480, 420);
}

std::optional<DefinitionDialog::Choice> DefinitionDialog::Chosen() const {
  const QTreeWidgetItem* item = tree_->currentItem();
  if (!item || item->childCount() > 0 || !item->parent() || !item->parent()->parent() || item->isHidden()) {
    return std::nullopt;
  }
  return Choice{item->data(0, kFileRole).toString().toStdString(), item->data(0, kFamilyRole).toString().toStdString(),
                item->text(0).toStdString()};
}

void DefinitionDialog::Filter(const QString& text) {
  const QString wanted = text.trimmed();
  int shown_models = 0;
  QTreeWidgetItem* only = nullptr;
  for (int m = 0; m < tree_->topLevelItemCount(); ++m) {
    QTreeWidgetItem* manufacturer = tree_->topLevelItem(m);
    bool manufacturer_shown = false;
    for (int f = 0; f < manufacturer->childCount(); ++f) {
      QTreeWidgetItem* family = manufacturer->child(f);
      bool family_shown = false;
      for (int i = 0; i < family->childCount(); ++i) {
        QTreeWidgetItem* model = family->child(i);
        const bool shown = wanted.isEmpty() ||
                           manufacturer->text(0).contains(wanted, Qt::CaseInsensitive) ||
                           family->text(0).contains(wanted, Qt::CaseInsensitive) ||
                           model->text(0).contains(wanted, Qt::CaseInsensitive);
        model->setHidden(!shown);
        if (shown) {
          ++shown_models;
          only = model;
        }
        family_shown = family_shown || shown;
      }
      family->setHidden(!family_shown);
      family->setExpanded(family_shown && !wanted.isEmpty());
      manufacturer_shown = manufacturer_shown || family_shown;
    }
    manufacturer->setHidden(!manufacturer_shown);
    manufacturer->setExpanded(manufacturer_shown && !wanted.isEmpty());
  }
  // A model hidden by the filter is no choice; the one model left is.
  if (shown_models == 1) {
    tree_->setCurrentItem(only);
  } else if (tree_->currentItem() && tree_->currentItem()->isHidden()) {
    tree_->setCurrentItem(nullptr);
  }
}

void MakeSheetFromDefinition(QWidget* window, SheetFiles& files, FileDialogs& dialogs,
                             const std::optional<std::string>& folder) {
  std::string problem;
  const decoderdefs::DefinitionPlaces places = decoderdefs::FindDefinitions(folder, problem);
  if (!places.jmri_xml && !places.user_decoders) throw std::runtime_error(kNoDefinitions);
  const decoderdefs::DefinitionLibrary library = decoderdefs::LoadDefinitions(places, false);
  if (library.families.empty()) throw std::runtime_error(kNoDefinitions);
  DefinitionDialog dialog(library, window);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::optional<DefinitionDialog::Choice> choice = dialog.Chosen();
  if (!choice) return;

  std::vector<decoderdefs::DefinitionProblem> problems;
  const std::vector<decoderdefs::Family> families = decoderdefs::ReadDecoderFile(choice->file, places, problems);
  const decoderdefs::Family* family = nullptr;
  const decoderdefs::Model* model = nullptr;
  for (const decoderdefs::Family& f : families) {
    for (const decoderdefs::Model& m : f.models) {
      if (f.name == choice->family && m.name == choice->model) {
        family = &f;
        model = &m;
      }
    }
  }
  std::vector<std::string> notes;
  for (const decoderdefs::DefinitionProblem& p : problems) {
    notes.push_back(p.file.string() + (p.line > 0 ? ", Zeile " + std::to_string(p.line) : std::string()) + ": " +
                    p.message);
  }
  if (!family) {
    std::string message = "Die Definition von " + choice->model + " kann nicht gelesen werden";
    for (const std::string& note : notes) message += "\n" + note;
    throw std::runtime_error(message);
  }
  const decoderdefs::DefinitionSheet made =
      decoderdefs::SheetFromDefinition(*family, *model, family->manufacturer, decoderdefs::LabelLanguage::kGerman);
  files.TakeMadeSheet(made.sheet, model->name);
  if (!made.replaced.empty()) {
    const std::u32string lacking(made.replaced.begin(), made.replaced.end());
    notes.push_back("Zeichen, die die Decoderdatei nicht kennt, stehen als '?' im Blatt: " +
                    QString::fromStdU32String(lacking).toStdString());
  }
  if (made.left_out > 0) {
    notes.push_back(std::to_string(made.left_out) + (made.left_out == 1 ? " Variable" : " Variablen") +
                    " auf indizierten CVs oder CVs über 1024 " + (made.left_out == 1 ? "ist" : "sind") +
                    " nicht im Blatt");
  }
  if (!notes.empty()) dialogs.ShowNotes(window, "Decoderblatt aus Definition", notes);
}

}  // namespace qarn2::ui
