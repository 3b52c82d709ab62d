#include "ui/sheet_pane.h"

#include <QAbstractTextDocumentLayout>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

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

std::string SheetPane::Text() const {
  // From the blocks, not toPlainText(), which would make every no-break space a blank.
  QString text;
  for (QTextBlock block = pane_->document()->begin(); block.isValid(); block = block.next()) {
    if (block != pane_->document()->begin()) text += "\r\n";
    text += block.text();
  }
  return ToCp1252(text);
}

void SheetPane::SetText(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  pane_->setPlainText(FromCp1252(lines));
}

std::vector<std::string> SheetPane::DisplayedLines() const {
  QTextDocument* document = pane_->document();
  std::vector<std::string> lines;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    // A wrapping pane lays out every block at its width as the text changes; asking
    // for the block's place makes sure of it.
    document->documentLayout()->blockBoundingRect(block);
    const QTextLayout* rows = block.layout();
    const QString text = block.text();
    if (rows == nullptr || rows->lineCount() == 0) {
      lines.push_back(ToCp1252(text));
      continue;
    }
    for (int i = 0; i < rows->lineCount(); ++i) {
      const QTextLine row = rows->lineAt(i);
      lines.push_back(ToCp1252(text.mid(row.textStart(), row.textLength())));
    }
  }
  return lines;
}

}  // namespace qarn2::ui
