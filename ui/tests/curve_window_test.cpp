// The speed curve editor as the user runs it from the window, on the sample
// locomotive file: the bars, the curve choices, "übernehmen" and "abbrechen".

#include <QAbstractButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

using Entries = std::array<int, 28>;

class CurveWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    auto* script = new ScriptedOpen;
    script->file = QARN2_EXAMPLES_DIR "/lokdecoder.LOC";
    dialogs_.reset(script);
    Start();
    Choose("OeffnenDecoder");
    sheet_at_start_ = SheetText();
    // The sample's speed lines: "67    6 Kennlinie Stufe 1" and on.
    for (const QString& line : sheet_at_start_.split('\n')) {
      const QStringList fields = line.split(' ', Qt::SkipEmptyParts);
      const int cv = fields.value(0).toInt();
      if (cv >= 67 && cv <= 94) in_file_[static_cast<std::size_t>(cv - 67)] = fields.value(1).toInt();
    }
    ASSERT_EQ(in_file_[0], 6);
    ASSERT_EQ(in_file_[27], 255);
  }

  QScrollBar* Bar(int n) const { return Find<QScrollBar>(QString("ScrollBar%1").arg(n).toLatin1().constData()); }
  QString Value() const { return Find<QLabel>("KennlWert")->text(); }
  QString SheetText() const { return Find<QPlainTextEdit>("Decoder")->toPlainText(); }
  void Press(const char* button) const { Find<QAbstractButton>(button)->click(); }
  // The entries the bars show.
  Entries OnBars() const {
    Entries shown{};
    for (int n = 1; n <= 28; ++n) shown[static_cast<std::size_t>(n - 1)] = 255 - Bar(n)->value();
    return shown;
  }
  // Drags bar N through every position up to `position`, as the mouse does, whatever
  // the editor makes of each.
  void Drag(int n, int position) const {
    for (int at = Bar(n)->value(); at != position;) Bar(n)->setValue(at += position > at ? 1 : -1);
  }

  QString sheet_at_start_;
  Entries in_file_{};
};

TEST_F(CurveWindowTest, OpeningShowsTheSheetsEntriesOnReadableControls) {
  Choose("Kennlinie");
  QApplication::processEvents();
  EXPECT_EQ(form_->focusWidget(), Find("KennlwahlEinzel")) << "the panel takes the focus";
  QWidget* box = Find("Kennlinienbox");
  EXPECT_TRUE(box->isVisible());
  EXPECT_TRUE(Find<QRadioButton>("KennlwahlEinzel")->isChecked());
  EXPECT_EQ(OnBars(), in_file_);
  EXPECT_EQ(form_->State().SpeedTable, in_file_);
  EXPECT_EQ(Value(), "CV 67= 6");  // the first bar that moved as the table was put on

  const std::pair<const char*, const char*> captions[] = {
      {"KennLabel1", "CV 67"},         {"KennLabel2", "CV 94"},  {"KennlwahlEinzel", "Einzeln"},
      {"KennlwahlGerade", "Gerade"},   {"KennlwahlBogen", "+/- Kreisbogen"},
      {"KennlwahlQuadrat", "+ Quadratlinie"}, {"KennlwahlE", "+ e- Funktion"},
      {"KennOK", "\u00fcbernehmen"},   {"KennNix", "abbrechen"},
  };
  for (const auto& [name, caption] : captions) {
    QWidget* w = Find(name);
    const auto* label = qobject_cast<QLabel*>(w);
    EXPECT_EQ(label ? label->text() : qobject_cast<QAbstractButton*>(w)->text(), QString::fromUtf8(caption));
    EXPECT_TRUE(w->isVisible()) << name;
    EXPECT_LE(w->sizeHint().width(), w->width()) << name;
    EXPECT_TRUE(box->rect().contains(w->geometry())) << name;
  }
  // Side by side, left to right, within the box; the end labels under the end bars.
  for (int n = 1; n <= 28; ++n) {
    EXPECT_TRUE(box->rect().contains(Bar(n)->geometry())) << n;
    EXPECT_GT(Bar(n)->x(), n > 1 ? Bar(n - 1)->geometry().right() : 0) << n;
  }
  EXPECT_GT(Find("KennLabel1")->y(), Bar(1)->geometry().bottom());
  EXPECT_LE(Find("KennLabel1")->x(), Bar(1)->x());
  EXPECT_GE(Find("KennLabel2")->geometry().right(), Bar(28)->geometry().right());
}

TEST_F(CurveWindowTest, SingleBarsMoveAloneAndShowTheirEntry) {
  Choose("Kennlinie");
  QApplication::setActiveWindow(form_.get());
  Bar(14)->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(Bar(14)->hasFocus());
  EXPECT_EQ(Value(), QString("CV 80= %1").arg(in_file_[13]));

  Drag(5, 0);
  Entries expected = in_file_;
  expected[4] = 255;
  EXPECT_EQ(Value(), "CV 71= 255");
  EXPECT_EQ(OnBars(), expected);
  EXPECT_EQ(form_->State().SpeedTable, expected);
}

TEST_F(CurveWindowTest, StraightLineThenApplyRewritesOnlyTheSpeedLines) {
  Choose("Kennlinie");
  Press("KennlwahlGerade");
  // Down and back to the top, where the sample has it already.
  Drag(28, 255 - 200);
  Drag(28, 0);
  EXPECT_EQ(Value(), "CV 94= 255");
  // The line from entry 1, which stays, to 255 at entry 28.
  const int t1 = in_file_[0];
  Entries line{};
  for (int i = 1; i <= 28; ++i) {
    line[static_cast<std::size_t>(i - 1)] = static_cast<int>(std::nearbyint(t1 + (255.0 - t1) * (i - 1) / 27));
  }
  EXPECT_EQ(form_->State().SpeedTable, line);
  EXPECT_EQ(OnBars(), line);

  Press("KennOK");
  EXPECT_FALSE(Shown("Kennlinienbox"));
  const QStringList before = sheet_at_start_.split('\n');
  const QStringList after = SheetText().split('\n');
  ASSERT_EQ(after.size(), before.size());
  int rewritten = 0;
  for (qsizetype i = 0; i < before.size(); ++i) {
    const int cv = before[i].split(' ').value(0).toInt();
    if (cv < 67 || cv > 94) {
      EXPECT_EQ(after[i], before[i]);
    } else {
      ++rewritten;
      const int entry = line[static_cast<std::size_t>(cv - 67)];
      EXPECT_EQ(after[i], QString("%1  %2 Kennlinie Stufe %3").arg(cv).arg(entry, 3).arg(cv - 66));
    }
  }
  EXPECT_EQ(rewritten, 28);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(CurveWindowTest, CancelAndOtherCommandsLeaveTheSheet) {
  // "abbrechen" forgets the edits.
  Choose("Kennlinie");
  Drag(3, 0);
  Press("KennNix");
  EXPECT_FALSE(Shown("Kennlinienbox"));
  EXPECT_EQ(form_->State().SpeedTable, in_file_);
  EXPECT_EQ(SheetText(), sheet_at_start_);

  // Another command closes the panel; the edits stay in memory only.
  Choose("Kennlinie");
  Press("KennlwahlBogen");
  Drag(5, 0);
  const Entries edited = form_->State().SpeedTable;
  ASSERT_NE(edited, in_file_);
  Choose("Progmodew");
  EXPECT_FALSE(Shown("Kennlinienbox"));
  for (const char* name : {"ScrollBar1", "ScrollBar28", "KennLabel1", "KennlWert", "KennlwahlBogen", "KennOK"}) {
    EXPECT_TRUE(Find(name)->isHidden()) << name;
  }
  EXPECT_EQ(form_->State().SpeedTable, edited);
  EXPECT_EQ(SheetText(), sheet_at_start_);

  // Reopened: the sheet's entries, and "Einzeln" again.
  Choose("Kennlinie");
  EXPECT_EQ(OnBars(), in_file_);
  Drag(6, 0);
  Entries expected = in_file_;
  expected[5] = 255;
  EXPECT_EQ(form_->State().SpeedTable, expected);
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
