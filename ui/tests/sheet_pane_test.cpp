#include "ui/sheet_pane.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>

#include <gtest/gtest.h>

#include "sheet/code_page.h"
#include "ui/text_codec.h"

namespace qarn2::ui {
namespace {

TEST(SheetPaneTest, LinesAreTheParagraphsInWindows1252) {
  QPlainTextEdit pane;
  pane.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  pane.resize(80, 200);
  pane.setPlainText(QString::fromUtf8(
      "*dir\n29 6 Konfiguration mit einer sehr langen Beschreibung, die umbricht\n"
      "4 3 Verz\u00f6gerung \u20ac\n"));
  pane.show();
  ASSERT_GT(pane.document()->findBlockByNumber(1).lineCount(), 1);  // shown on several rows
  const SheetPane sheet(&pane);
  ASSERT_EQ(sheet.LineCount(), 4);
  EXPECT_EQ(sheet.Line(0), "*dir");
  EXPECT_EQ(sheet.Line(1), "29 6 Konfiguration mit einer sehr langen Beschreibung, die umbricht");
  EXPECT_EQ(sheet.Line(2), "4 3 Verz\xF6gerung \x80");
  EXPECT_EQ(sheet.Line(3), "");
  EXPECT_EQ(sheet.Line(4), "");
  EXPECT_EQ(sheet.Line(-1), "");
}

TEST(SheetPaneTest, ReplacingALineLeavesTheRestAndTheUsersPlace) {
  QPlainTextEdit pane;
  pane.resize(300, 100);
  QStringList lines;
  for (int i = 1; i <= 60; ++i) lines << QString("%1 0 Wert").arg(i);
  pane.setPlainText(lines.join('\n'));
  pane.show();
  // The user works near the end, with the start scrolled out of sight.
  QTextCursor user(pane.document()->findBlockByNumber(50));
  user.movePosition(QTextCursor::Right, QTextCursor::MoveAnchor, 3);
  pane.setTextCursor(user);
  pane.verticalScrollBar()->setValue(pane.verticalScrollBar()->maximum());
  const int scrolled = pane.verticalScrollBar()->value();
  ASSERT_GT(scrolled, 0);

  SheetPane sheet(&pane);
  sheet.ReplaceLine(1, "2     7 Geschwindigkeit \xE4");
  sheet.ReplaceLine(50, "51  255 Wert");
  sheet.ReplaceLine(60, "nicht da");
  sheet.ReplaceLine(-1, "nicht da");

  lines[1] = QString::fromUtf8("2     7 Geschwindigkeit \u00e4");
  lines[50] = "51  255 Wert";
  EXPECT_EQ(pane.toPlainText(), lines.join('\n'));
  EXPECT_EQ(sheet.Line(1), "2     7 Geschwindigkeit \xE4");
  EXPECT_EQ(pane.textCursor().blockNumber(), 50);
  EXPECT_EQ(pane.verticalScrollBar()->value(), scrolled);
}

TEST(SheetPaneTest, DisplayedLinesAreTheRowsOfTheWrappedText) {
  QPlainTextEdit pane;
  pane.setLineWrapMode(QPlainTextEdit::WidgetWidth);
  pane.resize(200, 60);
  const QString long_line = QString::fromUtf8(
      "29 6 Konfiguration mit einer sehr langen Beschreibung \u00fcber mehrere Zeilen, 28 Fahrstufen");
  // The long line far below what the pane has shown so far, and a last empty line.
  QStringList blocks;
  for (int i = 1; i <= 200; ++i) blocks << QString("%1 0").arg(i);
  blocks << long_line << "";
  pane.setPlainText(blocks.join('\n'));
  pane.show();

  const std::vector<std::string> lines = SheetPane(&pane).DisplayedLines();
  ASSERT_GT(lines.size(), 203u);
  EXPECT_EQ(lines[0], "1 0");
  EXPECT_EQ(lines[199], "200 0");
  EXPECT_EQ(lines.back(), "");
  // The wrapped rows, each within the pane, together make the line again.
  std::string joined;
  const int room = pane.viewport()->width();
  for (std::size_t i = 200; i + 1 < lines.size(); ++i) {
    const QString row = QString::fromStdString(sheet::Cp1252ToUtf8(lines[i]));
    EXPECT_LE(pane.fontMetrics().horizontalAdvance(row.trimmed()), room) << lines[i];
    joined += lines[i];
  }
  EXPECT_EQ(joined, ToCp1252(long_line));
}

}  // namespace
}  // namespace qarn2::ui
