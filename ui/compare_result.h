#pragma once

#include <QDialog>

#include <string>

#include "programming/cv_commands.h"

class QPlainTextEdit;

namespace qarn2::ui {

// "Vergleichen" ended with a CV that is not the same: a window of its own beside the
// main window lists each ("CV 5: Blatt 255, Decoder 100") under a count, so that the
// user can look at it while changing the sheet. It changes neither sheet nor decoder.
class CompareResult : public QDialog {
 public:
  explicit CompareResult(QWidget* parent);

  // Shows what `comparison` found in `mode`; a comparison without a difference
  // only hides the window.
  void Show(const programming::SheetComparison& comparison, const std::string& mode);
  QString Text() const;

 private:
  QPlainTextEdit* list_;
};

}  // namespace qarn2::ui
