#include "ui/form1_layout.h"

#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/click_label.h"
#include "ui/connection_diagram.h"

namespace qarn2::ui {
namespace {

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height, bool shown) {
  widget->setObjectName(name);
  widget->setGeometry(left, top, width, height);
  widget->setVisible(shown);
  return widget;
}

QGroupBox* HiddenBox(QWidget* client, const char* name, const char* caption, int left, int top,
                     int width, int height) {
  return Place(new QGroupBox(QString::fromUtf8(caption), client), name, left, top, width, height,
               false);
}

// The sheet's text pane. Tab and Shift+Tab move the focus on to the next control, as
// everywhere in the window; with no other control shown they do nothing. The keyboard
// never types a tab character into the sheet, whose lines take blanks.
class SheetEdit : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    // Here only when the focus had nowhere to go (or with Ctrl or Alt held).
    if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
      event->ignore();
      return;
    }
    QPlainTextEdit::keyPressEvent(event);
  }
};

// The sheet's font: "Courier" 13 pixels high, or the nearest fixed-pitch face.
QFont SheetFont() {
  QFont font;
  font.setFamilies({"Courier", "Liberation Mono", "DejaVu Sans Mono"});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(13);
  return font;
}

// The layout was drawn for a narrower font than Linux has: a caption that would be cut
// off in its box is set closer instead.
void FitTextToWidth(QLabel* label) {
  const int needed = label->fontMetrics().horizontalAdvance(label->text());
  if (needed <= label->width()) return;
  QFont font = label->font();
  font.setLetterSpacing(QFont::PercentageSpacing, 100.0 * (label->width() - 1) / needed);
  label->setFont(font);
}

}  // namespace

FormControls BuildFormControls(QWidget* client) {
  FormControls c{};
  // The sheet first, so that everything else lies over it.
  c.Decoder = Place(new SheetEdit("Decoder", client), "Decoder", 56, 32, 569, 401, true);
  // Made first of the focusable controls, so first in the tab order. Long lines are
  // wrapped at the pane's width; there are no scroll bars (the text still scrolls with
  // the cursor).
  c.Decoder->setFont(SheetFont());
  c.Decoder->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  c.Decoder->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  c.Decoder->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  c.Decoder->setTabChangesFocus(true);
  c.Decoder->setAccessibleName("Decoderblatt");
  c.Decoder->setAccessibleDescription(
      "Titel, Bemerkungen und je CV eine Zeile: Nummer, Wert, Beschreibung");
  c.StaticText1 =
      Place(new QLabel("Programmier- Mode:", client), "StaticText1", 8, 0, 98, 17, true);
  c.Label2 = Place(new QLabel("Label2", client), "Label2", 112, 0, 32, 13, true);
  c.StaticText1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FitTextToWidth(c.StaticText1);
  c.Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  // Read as the mode it shows.
  c.Label2->setAccessibleDescription("Programmier- Mode");

  c.Infolabel = Place(new ClickLabel(client), "Infolabel", 464, 8, 96, 13, false);
  c.Infolabel->setText("qarn2-Projekt");
  c.Infolabel->setWordWrap(false);
  c.Infolabel->setAccessibleDescription(QString::fromUtf8("\u00dcber QARN; ein Klick schlie\u00dft die Angabe"));

  c.Image1 = Place(new ClickLabel(client), "Image1", 320, 0, 353, 241, false);
  c.Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  c.Image1->setPixmap(DrawConnectionDiagram());
  c.Image1->setAccessibleName("Anschlussplan");
  c.Image1->setAccessibleDescription(ConnectionDiagramInWords());

  c.Resetbox = HiddenBox(client, "Resetbox", "Decoder- Factory- Reset", 72, 72, 185, 105);
  c.ResetOK = Place(new QPushButton("Ja", c.Resetbox), "ResetOK", 16, 24, 153, 25, true);
  c.ResetNot =
      Place(new QPushButton("ne, doch nicht", c.Resetbox), "ResetNot", 16, 64, 153, 25, true);
  c.ResetOK->setAccessibleDescription(QString::fromUtf8("Decoder auf Werkseinstellungen zur\u00fccksetzen"));
  c.ResetNot->setAccessibleDescription(QString::fromUtf8("nicht zur\u00fccksetzen"));
  return c;
}

}  // namespace qarn2::ui
