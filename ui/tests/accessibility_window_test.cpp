// What screen readers and test robots are told about the window, asked in-process as
// they ask it: through the controls' accessible interfaces.

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ui/tests/form1_fixture.h"

namespace qarn2::ui {
namespace {

class AccessibilityWindowTest : public Form1Fixture {
 protected:
  void SetUp() override {
    auto* script = new ScriptedOpen;
    script->file = QARN2_EXAMPLES_DIR "/lokdecoder.LOC";
    dialogs_.reset(script);
    Start();
  }

  QAccessibleInterface* Accessible(const char* name) const {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(Find(name));
    EXPECT_NE(iface, nullptr) << name;
    return iface;
  }
  QString NameOf(const char* name) const { return Accessible(name)->text(QAccessible::Name); }
  QString DescriptionOf(const char* name) const { return Accessible(name)->text(QAccessible::Description); }
  QAccessibleValueInterface* BarValue(int n) const {
    QAccessibleValueInterface* value = Accessible(BarName(n).constData())->valueInterface();
    EXPECT_NE(value, nullptr) << n;
    return value;
  }
  static QByteArray BarName(int n) { return QString("ScrollBar%1").arg(n).toLatin1(); }
  QScrollBar* Bar(int n) const { return Find<QScrollBar>(BarName(n).constData()); }
  // The sheet as a screen reader reads it: through its text interface.
  QStringList SheetLines() const {
    QAccessibleTextInterface* text = Accessible("Decoder")->textInterface();
    EXPECT_NE(text, nullptr);
    return text->text(0, text->characterCount()).split('\n');
  }
  std::array<int, 28>& Entries() const { return form_->State().SpeedTable; }
};

TEST_F(AccessibilityWindowTest, EveryControlIsNamedForItselfNotForTheBoxAroundIt) {
  // Every control of the window has an object name; Qt's own inner parts (the sheet's
  // viewport and scroll bars) have none or one of Qt's and are left out.
  int checked = 0;
  for (QWidget* widget : Find("Form1Client")->findChildren<QWidget*>()) {
    if (widget->objectName().isEmpty() || widget->objectName().startsWith("qt_")) continue;
    SCOPED_TRACE(widget->objectName().toStdString());
    const QString name = QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).trimmed();
    EXPECT_FALSE(name.isEmpty());
    for (QWidget* outer = widget->parentWidget(); outer != nullptr; outer = outer->parentWidget()) {
      if (auto* box = qobject_cast<QGroupBox*>(outer); box != nullptr && !box->title().isEmpty()) {
        EXPECT_NE(name, box->title().trimmed()) << "named after " << box->objectName().toStdString();
      }
    }
    ++checked;
  }
  EXPECT_GT(checked, 90);
}

TEST_F(AccessibilityWindowTest, NamesAndRolesSayWhatEachControlIs) {
  struct Expected {
    const char* control;
    const char* name;
    QAccessible::Role role;
  };
  const Expected expected[] = {
      {"Decoder", "Decoderblatt", QAccessible::EditableText},
      {"Image1", "Anschlussplan", QAccessible::Graphic},
      {"Infolabel", "qarn2-Projekt", QAccessible::StaticText},
      {"CVedit", "CV-Nummer", QAccessible::EditableText},
      {"SteuerEdit", "Decoderadresse", QAccessible::EditableText},
      {"Regler", "Fahrregler", QAccessible::ScrollBar},
      {"ScrollBar1", "CV 67", QAccessible::Slider},
      {"ScrollBar14", "CV 80", QAccessible::Slider},
      {"ScrollBar28", "CV 94", QAccessible::Slider},
      {"SpeedButton14", "14 Speedsteps", QAccessible::RadioButton},
      {"ProgmodeWahl", "Programmier- Mode", QAccessible::Grouping},
      {"MainMenu1", "Men\u00fcleiste", QAccessible::MenuBar},
      {"CVschreiben1", "CV auslesen", QAccessible::PopupMenu},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.control);
    EXPECT_EQ(NameOf(e.control), QString::fromUtf8(e.name));
    EXPECT_EQ(Accessible(e.control)->role(), e.role);
  }
  // The picture is told in words.
  const QString diagram = DescriptionOf("Image1");
  for (const char* part : {"Signal", "Diode", "Masse", "DTR", "Relais", "RI", "R\u00fcckmeldung"}) {
    EXPECT_TRUE(diagram.contains(QString::fromUtf8(part))) << part;
  }
  EXPECT_FALSE(DescriptionOf("Decoder").isEmpty());
  // The captions themselves stay as the window shows them.
  EXPECT_EQ(Find<QAbstractButton>("SpeedButton14")->text(), "  14 Speedsteps");
  EXPECT_TRUE(Find<QGroupBox>("ProgmodeWahl")->title().startsWith("   "));
}

TEST_F(AccessibilityWindowTest, CvEntryIsNamedForItsStepAndDescribedByTheOutcome) {
  Choose("SchreibeCV");
  EXPECT_EQ(NameOf("CVedit"), "CV-Nummer");
  // The empty result line reads empty, not as the caption of its box.
  EXPECT_EQ(NameOf("CVResult"), "");
  Enter("29");
  EXPECT_EQ(NameOf("CVedit"), "CV-Wert");
  EXPECT_EQ(DescriptionOf("CVedit"), "");
  Enter("300");  // refused: still the value step
  EXPECT_EQ(NameOf("CVedit"), "CV-Wert");
  Enter("6");
  EXPECT_EQ(NameOf("CVedit"), "CV-Nummer");
  const QString confirmed = QString::fromUtf8("CV Nr 29=6 best\u00e4tigt");
  EXPECT_EQ(Result().trimmed(), confirmed);
  EXPECT_EQ(NameOf("CVResult").trimmed(), confirmed);
  EXPECT_EQ(DescriptionOf("CVedit"), confirmed);
  EXPECT_EQ(DescriptionOf("GroupCVRW"), confirmed);

  // Reading: the progress of the scan shows in the result line, but only the outcome
  // is announced.
  Choose("leseCV");
  EXPECT_EQ(NameOf("CVedit"), "CV-Nummer");
  EXPECT_EQ(DescriptionOf("CVedit"), "");
  std::vector<QString> described_meanwhile;
  int progress_seen = 0;
  on_tick_ = [&] {
    described_meanwhile.push_back(DescriptionOf("CVedit"));
    progress_seen += Result().contains("Bit");
  };
  Enter("29");
  on_tick_ = nullptr;
  EXPECT_GT(progress_seen, 0);
  EXPECT_EQ(described_meanwhile, std::vector<QString>(described_meanwhile.size(), ""));
  EXPECT_EQ(DescriptionOf("CVedit"), "CV Nr 29 = 6");
  EXPECT_EQ(NameOf("CVResult"), "CV Nr 29 = 6");

  // A refused entry runs nothing: the last outcome is gone, nothing new is announced.
  Enter("abc");
  EXPECT_EQ(DescriptionOf("CVedit"), "");
}

TEST_F(AccessibilityWindowTest, ReadingAllAnnouncesTheCount) {
  Choose("OeffnenDecoder");
  Choose("leseAlleCVs");
  EXPECT_TRUE(Result().endsWith("Fehler beim Auslesen"));
  EXPECT_EQ(DescriptionOf("GroupCVRW"), Result().trimmed());
  EXPECT_EQ(NameOf("CVResult"), Result());
}

TEST_F(AccessibilityWindowTest, BarsReportAndTakeTheEntryNotThePosition) {
  Choose("OeffnenDecoder");
  Choose("Kennlinie");
  const std::array<int, 28> in_file = Entries();
  ASSERT_EQ(in_file[0], 6);
  ASSERT_EQ(Bar(1)->value(), 249);
  for (int n = 1; n <= 28; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(BarValue(n)->currentValue().toInt(), in_file[static_cast<std::size_t>(n - 1)]);
    EXPECT_EQ(Accessible(BarName(n).constData())->text(QAccessible::Value).toInt(),
              in_file[static_cast<std::size_t>(n - 1)]);
    EXPECT_EQ(BarValue(n)->minimumValue().toInt(), 0);
    EXPECT_EQ(BarValue(n)->maximumValue().toInt(), 255);
  }

  // A value set from outside moves the bar as a drag does: the entry, the line that
  // shows it and nothing else.
  BarValue(5)->setCurrentValue(100.0);
  EXPECT_EQ(Bar(5)->value(), 155);
  EXPECT_EQ(Entries()[4], 100);
  EXPECT_EQ(Find<QLabel>("KennlWert")->text(), "CV 71= 100");
  EXPECT_EQ(NameOf("KennlWert"), "CV 71= 100");
  std::array<int, 28> expected = in_file;
  expected[4] = 100;
  EXPECT_EQ(Entries(), expected);

  // Held to 0..255 and rounded; what is no number changes nothing.
  const std::pair<QVariant, int> values[] = {
      {300.0, 255}, {-4.0, 0}, {99.6, 100}, {QVariant("abc"), 100},
      {std::numeric_limits<double>::quiet_NaN(), 100}, {QVariant(), 100}};
  for (const auto& [value, entry] : values) {
    SCOPED_TRACE(value.toString().toStdString());
    BarValue(5)->setCurrentValue(value);
    EXPECT_EQ(BarValue(5)->currentValue().toInt(), entry);
    EXPECT_EQ(Entries()[4], entry);
  }

  // "übernehmen" writes it into the sheet, which reads back as lines.
  Find<QAbstractButton>("KennOK")->click();
  EXPECT_TRUE(SheetLines().contains("71  100 Kennlinie Stufe 5"));

  // A hidden bar is out of reach.
  BarValue(5)->setCurrentValue(7.0);
  EXPECT_EQ(Entries()[4], 100);
  EXPECT_EQ(Bar(5)->value(), 155);
}

TEST_F(AccessibilityWindowTest, AValueSetFromOutsideReshapesTheCurveLikeADrag) {
  Choose("OeffnenDecoder");
  Choose("Kennlinie");
  Find<QAbstractButton>("KennlwahlGerade")->click();
  // "Gerade" through entry 1 (6) and bar 28 set to 249: entry i = 6 + 9 (i - 1).
  BarValue(28)->setCurrentValue(249.0);
  for (int n = 1; n <= 28; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(Entries()[static_cast<std::size_t>(n - 1)], 6 + 9 * (n - 1));
    EXPECT_EQ(BarValue(n)->currentValue().toInt(), 6 + 9 * (n - 1));
  }
  EXPECT_EQ(NameOf("KennlWert"), "CV 94= 249");
}

TEST_F(AccessibilityWindowTest, ChangingLabelsAreReadWithTheirCurrentText) {
  EXPECT_EQ(NameOf("Label2"), "dir");
  EXPECT_EQ(DescriptionOf("Label2"), "Programmier- Mode");
  Choose("Progmodew");
  Find<QAbstractButton>("ProgPag")->click();
  EXPECT_EQ(NameOf("Label2"), "pag");

  // The turnout box is called by its caption, which follows the entry.
  Choose("Weicheprobier");
  EXPECT_EQ(NameOf("Weichenbox"), "Weiche 3");
  EXPECT_EQ(NameOf("SteuerEdit"), "Weichennummer");
  Find("SteuerEdit")->setFocus();
  Find<QLineEdit>("SteuerEdit")->clear();
  Type(Find("SteuerEdit"), "12");
  PressEnter(Find("SteuerEdit"));
  EXPECT_EQ(NameOf("Weichenbox"), "Weiche 12");

  Choose("Lokprobier");
  EXPECT_EQ(NameOf("SteuerEdit"), "Lokadresse");
  Find<QScrollBar>("Regler")->setValue(-5);
  EXPECT_EQ(NameOf("SteuerLabel2"), "-5");
  EXPECT_EQ(Accessible("Regler")->valueInterface()->currentValue().toInt(), -5);
  Choose("Funktionsdecprobier");
  EXPECT_EQ(NameOf("SteuerEdit"), "Decoderadresse");
}

TEST_F(AccessibilityWindowTest, PressDoesWhatAClickOnTheLabelDoes) {
  const auto press = [this](const char* label) {
    QAccessibleActionInterface* actions = Accessible(label)->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    actions->doAction(QAccessibleActionInterface::pressAction());
  };
  Choose("Anschlsse");
  ASSERT_TRUE(Shown("Image1"));
  press("Image1");
  EXPECT_FALSE(Shown("Image1"));
  EXPECT_TRUE(Shown("Decoder"));
  // Hidden, it is out of reach: the sheet stays.
  Find("Decoder")->hide();
  press("Image1");
  EXPECT_FALSE(Shown("Image1"));
  EXPECT_FALSE(Shown("Decoder"));
  Find("Decoder")->show();

  Choose("berQARN3");
  press("Infolabel");
  EXPECT_FALSE(Shown("Infolabel"));
  EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace qarn2::ui
