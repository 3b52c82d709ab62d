#pragma once

// "Datei" / "Decoderblatt aus Definition...": the choice of a decoder model from JMRI's
// definitions (manufacturer, family, model, with a filter), and the sheet made from
// it.

#include <QDialog>

#include <optional>
#include <string>

#include "decoderdefs/decoder_definitions.h"

class QLineEdit;
class QTreeWidget;

namespace qarn2::ui {

class FileDialogs;
class SheetFiles;

// The models of `library` as a tree: manufacturer, family, model. The filter (object
// name "Filter") keeps the models whose manufacturer, family or model holds its text
// (in any case); "OK" is enabled while a model is chosen.
class DefinitionDialog : public QDialog {
 public:
  struct Choice {
    std::string file;    // the family's decoder file
    std::string family;  // the family's name
    std::string model;
  };

  DefinitionDialog(const decoderdefs::DefinitionLibrary& library, QWidget* parent);

  // The model chosen; nothing while none is.
  std::optional<Choice> Chosen() const;
  // Shows the models that hold `text`, the tree opened where a filter is given.
  void Filter(const QString& text);

 private:
  QLineEdit* filter_;
  QTreeWidget* tree_;
};

// The menu item's command: the definitions from the usual places, the dialog, and the
// chosen model's sheet given to `files` as a new sheet under no file name. Failures
// leave as exceptions whose message is the one to show (German, UTF-8); what the sheet
// could not hold is shown by `dialogs`.
void MakeSheetFromDefinition(QWidget* window, SheetFiles& files, FileDialogs& dialogs,
                             const std::optional<std::string>& folder);

}  // namespace qarn2::ui
