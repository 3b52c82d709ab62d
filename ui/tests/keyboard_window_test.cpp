// The window without a mouse: Tab and Shift+Tab through the controls, Enter and Space
// on what would be clicked, and a key letter for every menu and item.

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ui/click_label.h"
#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

// A key with the text the keyboard sends along (a text pane types that text).
void PressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  const QString text = key == Qt::Key_Tab || key == Qt::Key_Backtab ? "\t"
                       : key == Qt::Key_Return                     ? "\r"
                       : key == Qt::Key_Space                      ? " "
                       : key == Qt::Key_A                          ? "a"
                                                                   : "";
  QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
  QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
  QApplication::sendEvent(widget, &press);
  QApplication::sendEvent(widget, &release);
}

std::string NameOf(const QWidget* w) {
  if (w == nullptr) return "(none)";
  return w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName().toStdString();
}

class KeyboardWindowTest : public Form1Fixture {
 protected:
  // The window as the user has it: active, so that its controls see the focus come
  // and go (a group of choices keeps one Tab stop only then).
  void SetUp() override {
    Start();
    form_->activateWindow();
    QApplication::processEvents();
    ASSERT_TRUE(form_->isActiveWindow());
  }
  QPlainTextEdit* Sheet() const { return Find<QPlainTextEdit>("Decoder"); }
  QWidget* Focus() const { return form_->focusWidget(); }
  // Presses Tab until the focus comes back round; the controls it stood on.
  std::set<QWidget*> TabRound() const {
    std::set<QWidget*> reached;
    for (int presses = 0; presses < 200; ++presses) {
      QWidget* now = Focus();
      if (now == nullptr || !reached.insert(now).second) break;
      PressKey(now, Qt::Key_Tab);
    }
    return reached;
  }
  // The shown controls a user works with; the radio buttons by their group (their
  // parent), apart from the rest.
  std::vector<QWidget*> ShownControls(std::map<QWidget*, std::vector<QWidget*>>& choices) const {
    std::vector<QWidget*> controls;
    for (QWidget* w : form_->centralWidget()->findChildren<QWidget*>()) {
      if (!w->isVisible() || !w->isEnabled()) continue;
      if (qobject_cast<QRadioButton*>(w)) {
        choices[w->parentWidget()].push_back(w);
      } else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                 qobject_cast<QAbstractSlider*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
                 dynamic_cast<ClickLabel*>(w)) {
        controls.push_back(w);
      }
    }
    return controls;
  }
};

TEST_F(KeyboardWindowTest, TabInTheSheetMovesOnAndLeavesTheText) {
  QPlainTextEdit* sheet = Sheet();
  sheet->setPlainText("*dir\n29 6 Konfiguration");
  // Alone on the window, the sheet gets the focus back.
  sheet->setFocus();
  PressKey(sheet, Qt::Key_Tab);
  EXPECT_EQ(Focus(), sheet);
  EXPECT_EQ(sheet->toPlainText(), "*dir\n29 6 Konfiguration");
  // With the mode panel beside it, the focus moves on to the panel's buttons, forwards
  // and backwards.
  Choose("Progmodew");
  for (const auto& [key, modifiers] : {std::pair{int(Qt::Key_Tab), Qt::KeyboardModifiers(Qt::NoModifier)},
                                       std::pair{int(Qt::Key_Backtab), Qt::KeyboardModifiers(Qt::ShiftModifier)}}) {
    SCOPED_TRACE(key);
    sheet->setFocus();
    sheet->moveCursor(QTextCursor::Start);
    ASSERT_EQ(Focus(), sheet);
    PressKey(sheet, key, modifiers);
    EXPECT_EQ(sheet->toPlainText(), "*dir\n29 6 Konfiguration");
    ASSERT_NE(Focus(), nullptr);
    EXPECT_TRUE(qobject_cast<QAbstractButton*>(Focus()) && Find("ProgmodeWahl")->isVisible()) << NameOf(Focus());
  }
  EXPECT_EQ(form_->State().ProgrammingMode, "dir");
  // Typing still types, Enter still ends a line.
  sheet->setFocus();
  sheet->moveCursor(QTextCursor::End);
  Type(sheet, " A");
  PressEnter(sheet);
  EXPECT_EQ(sheet->toPlainText(), "*dir\n29 6 Konfiguration A\n");
}

// A panel opened over the sheet takes the focus, so typing never reaches the text it
// covers (and a screen reader says what opened); closed, it gives the focus back. (The
// speed curve's panel: see its own tests.)
TEST_F(KeyboardWindowTest, APanelTakesTheFocusAndGivesItBack) {
  struct Case {
    const char* item;
    const char* panel;
    const char* focus;  // the control that gets it
    const char* close;  // clicked to close the panel
  };
  const Case cases[] = {
      {"Progmodew", "ProgmodeWahl", "ProgDir", "ProgPag"},
      {"HardwareWahl", "Hardwarebox", "ButtonQARN", "ButtonBooster"},
      {"Ports", "Portbox", "ButtonCOM1", "ButtonCOM2"},
      {"Reset1", "Resetbox", "ResetNot", "ResetNot"},
      {"berQARN3", "Infolabel", "Infolabel", "Infolabel"},
  };
  QPlainTextEdit* sheet = Sheet();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    sheet->setPlainText("*dir\n29 6");
    sheet->setFocus();
    Choose(c.item);
    QApplication::processEvents();  // as the window's event loop does after a command
    ASSERT_TRUE(Shown(c.panel));
    EXPECT_EQ(NameOf(Focus()), c.focus);
    PressKey(Focus(), Qt::Key_A);
    EXPECT_EQ(sheet->toPlainText(), "*dir\n29 6");
    if (auto* button = qobject_cast<QAbstractButton*>(Find(c.close))) {
      button->click();
    } else {
      Click(Find(c.close));
    }
    EXPECT_FALSE(Shown(c.panel));
    EXPECT_EQ(Focus(), sheet);
  }
}

TEST_F(KeyboardWindowTest, TabReachesEveryControlOfEveryPanel) {
  // A sheet with the speed table, so that "Kennlinie" has bars to show.
  QString lines = "*dir";
  for (int cv = 67; cv <= 94; ++cv) lines += QString("\n%1 %2").arg(cv).arg(cv - 60);
  Sheet()->setPlainText(lines);
  Find<QAction>("Kennlinie")->setEnabled(true);
  // Each command with what it shows; the port panel, the reset question and the two
  // information views stay beside the next ones. The mode panel comes first: a button
  // on the window that has had the focus must not take the Tab stop from the choices
  // in the panels' boxes.
  for (const char* item : {"Progmodew", "leseCV", "SchreibeCV", "HardwareWahl", "Ports", "Lokprobier",
                           "Weicheprobier", "Funktionsdecprobier", "Kennlinie", "Reset1", "berQARN3"}) {
    SCOPED_TRACE(item);
    Choose(item);
    const std::string mode = form_->State().ProgrammingMode;
    const int kind = Link().HardwareKind;
    Sheet()->setFocus();
    const std::set<QWidget*> reached = TabRound();
    std::map<QWidget*, std::vector<QWidget*>> choices;
    const std::vector<QWidget*> controls = ShownControls(choices);
    ASSERT_GT(controls.size() + choices.size(), 1u);
    for (QWidget* control : controls) EXPECT_TRUE(reached.contains(control)) << NameOf(control);
    // A group of choices is one stop; the arrow keys move within it.
    for (const auto& [group, buttons] : choices) {
      EXPECT_TRUE(std::any_of(buttons.begin(), buttons.end(), [&](QWidget* b) { return reached.contains(b); }))
          << NameOf(buttons.front());
    }
    // Going past a choice does not make it.
    EXPECT_EQ(form_->State().ProgrammingMode, mode);
    EXPECT_EQ(Link().HardwareKind, kind);
  }
  EXPECT_TRUE(messages_.empty());
}

TEST_F(KeyboardWindowTest, EnterAndSpaceCloseTheInformationViews) {
  // From the sheet, "Anschlüsse" hands the focus to the picture; Enter brings the
  // sheet back, with the focus.
  Sheet()->setFocus();
  Choose("Anschlsse");
  ASSERT_TRUE(Shown("Image1"));
  EXPECT_EQ(Focus(), Find("Image1"));
  PressKey(Focus(), Qt::Key_Return);
  EXPECT_FALSE(Shown("Image1"));
  EXPECT_TRUE(Shown("Decoder"));
  EXPECT_EQ(Focus(), Sheet());

  // "Über QARN" leaves the focus where it was; Tab reaches the line, Space hides it.
  Choose("berQARN3");
  EXPECT_EQ(Focus(), Sheet());
  PressKey(Sheet(), Qt::Key_Tab);
  while (Focus() != Find("Infolabel") && Focus() != Sheet()) PressKey(Focus(), Qt::Key_Tab);
  ASSERT_EQ(Focus(), Find("Infolabel"));
  PressKey(Focus(), Qt::Key_Space);
  EXPECT_FALSE(Shown("Infolabel"));
  // Other keys do nothing there.
  Choose("berQARN3");
  PressKey(Find("Infolabel"), Qt::Key_A);
  EXPECT_TRUE(Shown("Infolabel"));
}

TEST_F(KeyboardWindowTest, EveryMenuAndItemHasAKeyLetterOfItsOwn) {
  std::set<QKeySequence> menu_keys;
  for (QAction* menu_action : form_->menuBar()->actions()) {
    const std::string menu = Displayed(menu_action->text()).toStdString();
    SCOPED_TRACE(menu);
    const QKeySequence menu_key = QKeySequence::mnemonic(menu_action->text());
    EXPECT_FALSE(menu_key.isEmpty());
    EXPECT_TRUE(menu_keys.insert(menu_key).second) << menu_key.toString().toStdString();
    std::set<QKeySequence> item_keys;
    for (QAction* item : menu_action->menu()->actions()) {
      const QKeySequence key = QKeySequence::mnemonic(item->text());
      EXPECT_FALSE(key.isEmpty()) << item->text().toStdString();
      EXPECT_TRUE(item_keys.insert(key).second) << item->text().toStdString();
    }
  }
  EXPECT_EQ(menu_keys.size(), 8u);
  // The key letters underline, they do not add to what is read.
  EXPECT_EQ(Displayed("Decoderdatei \u00f6&ffnen"), "Decoderdatei \u00f6ffnen");
  EXPECT_EQ(Displayed("Laden && &Speichern"), "Laden & Speichern");
}

}  // namespace
}  // namespace qarn2::ui
