#pragma once

#include <QDialog>
#include <QPageLayout>
#include <QPageSize>

#include <array>

class QComboBox;
class QDoubleSpinBox;
class QPrinter;
class QRadioButton;

namespace qarn2::ui {

// The page set-up for printing into a PDF file (what the printer is where the printing
// system has none): paper size, orientation and margins. The system's page set-up
// serves only the printers of the printing system. The dialog starts from the
// printer's page and gives the printer the chosen one when the user confirms with
// "OK"; "Abbrechen" leaves it as it was.
class PageSetupDialog : public QDialog {
 public:
  PageSetupDialog(QPrinter& printer, QWidget* parent);

  // The page as the dialog's fields now say, margins in millimetres.
  QPageLayout ChosenLayout() const;

  // Gives the printer the chosen page. Margins that leave no room on the paper are
  // refused with a message; the dialog stays open then.
  void accept() override;

 private:
  void BuildPaperFields(const QPageLayout& page);
  void BuildMarginFields(const QPageLayout& page);

  QPrinter& printer_;
  // The printer's paper when it is none of the sizes offered: the first entry.
  QPageSize own_size_;
  QComboBox* paper_ = nullptr;
  QRadioButton* portrait_ = nullptr;
  QRadioButton* landscape_ = nullptr;
  // Left, top, right, bottom: the fields, the printer's margins as they were, and
  // those as the fields first showed them.
  std::array<QDoubleSpinBox*, 4> margins_{};
  std::array<double, 4> margins_mm_{};
  std::array<double, 4> margins_shown_{};
};

}  // namespace qarn2::ui
