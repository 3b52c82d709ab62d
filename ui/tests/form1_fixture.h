// The window on the simulated track, on virtual time: the start-up's waits take no
// wall time, and every run goes alike.

#pragma once

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/testing/track_bench.h"
#include "ui/file_dialogs.h"
#include "ui/form1.h"

// Test failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace qarn2::ui {

// A menu's or item's caption as the menu shows it: without the '&' that marks the
// letter of its key, and with "&&" as one '&'.
inline QString Displayed(const QString& caption) {
  QString shown;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    shown += caption[i];
  }
  return shown;
}

}  // namespace qarn2::ui

namespace qarn2::ui {

// The file dialog answers with `file` once, then cancels; the other dialogs cancel.
struct ScriptedOpen : FileDialogs {
  std::optional<std::string> ChooseOpen(QWidget*, const std::string&) override { return std::exchange(file, std::nullopt); }
  std::optional<std::string> ChooseSave(QWidget*, const std::string&) override { return std::nullopt; }
  bool PrinterSetup(QWidget*, QPrinter&) override { return false; }
  bool Print(QWidget*, QPrinter&) override { return false; }
  std::optional<std::string> file;
};

class Form1Fixture : public ::testing::Test {
 protected:
  void Start() {
    engine_ = std::make_unique<engine::Engine>(options_);
    engine_->SetTickHook([this] {
      if (on_tick_) on_tick_();
    });
    form_ = std::make_unique<TForm1>(
        *engine_, [this](const std::string& m) { messages_.push_back(m); }, std::move(dialogs_));
    form_->Start();
    form_->ShowCentred();
  }
  sim::SimulatedTrack& Track() const { return engine_->Track(); }
  link::TrackLink& Link() const { return engine_->Link(); }
  serial::TComPort& Port() const { return engine_->Port(); }
  sim::SimClock& Clock() const { return engine_->Clock(); }

  template <typename W = QWidget>
  W* Find(const char* name) const {
    W* widget = form_->findChild<W*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  bool Shown(const char* name) const { return Find(name)->isVisible(); }
  void Choose(const char* item) const {
    QAction* action = Find<QAction>(item);
    ASSERT_TRUE(action->isEnabled()) << item;
    action->trigger();
  }
  static void Click(QWidget* widget) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
  }
  // Types `text` into `widget` key by key, as the keyboard would.
  static void Type(QWidget* widget, const QString& text) {
    for (QChar c : text) {
      const int key = c.toUpper().unicode();  // Qt's key codes of Latin-1 are the capitals
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
      QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
      QApplication::sendEvent(widget, &press);
      QApplication::sendEvent(widget, &release);
    }
  }
  static void PressEnter(QWidget* widget, int key = Qt::Key_Return) {
    QKeyEvent press(QEvent::KeyPress, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier, "\r");
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, "\r");
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
  }
  // The CV box's entry field and result line.
  QLineEdit* Entry() const { return Find<QLineEdit>("CVedit"); }
  QString Result() const { return Find<QLabel>("CVResult")->text(); }
  // Types `text` into the entry field and presses Enter there.
  void Enter(const QString& text) const {
    Entry()->clear();
    Type(Entry(), text);
    PressEnter(Entry());
  }
  int DecoderCv(int number) {
    auto lock = Track().Lock();
    return Track().Decoder().Cv(number);
  }
  int Count(sim::TrackLogEntry::Kind kind) const {
    int n = 0;
    for (const sim::TrackLogEntry& e : Track().Log()) n += e.kind == kind;
    return n;
  }

  // The engine on the simulated track, on virtual time; a test may change these
  // before Start.
  engine::EngineOptions options_ = engine::testing::VirtualTrack();
  std::unique_ptr<engine::Engine> engine_;
  // Runs at every tick of the timer, after the link's own handler: lets a test act in
  // the middle of a running command, as the user would.
  std::function<void()> on_tick_;
  std::vector<std::string> messages_;
  // The dialogs of the menu "Datei" the window gets; the system's when left empty.
  std::unique_ptr<FileDialogs> dialogs_;
  std::unique_ptr<TForm1> form_;
};

}  // namespace qarn2::ui
