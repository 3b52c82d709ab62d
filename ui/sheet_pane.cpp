#include "ui/sheet_pane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "ui/text_codec.h"

namespace qarn2::ui {

int SheetPane::LineCount() const { return pane_->document()->blockCount(); }

std::string SheetPane::Line(int index) const {
  const QTextBlock block = pane_->document()->findBlockByNumber(index);
  if (!block.isValid()) return {};
  return ToCp1252(block.text());
}

void SheetPane::ReplaceLine(int index, const std::string& text) {
  const QTextBlock block = pane_->document()->findBlockByNumber(index);
  if (!block.isValid()) return;
  const QString replacement = FromCp1252(text);
  if (block.text() == replacement) return;
  // An edit through a cursor of its own: the pane's cursor moves with the text around
  // it, but the pane does not scroll to the edit.
  const int horizontal = pane_->horizontalScrollBar()->value();
  const int vertical = pane_->verticalScrollBar()->value();
  QTextCursor cursor(block);
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(replacement);
  pane_->horizontalScrollBar()->setValue(horizontal);
  pane_->verticalScrollBar()->setValue(vertical);
}

}  // namespace qarn2::ui
