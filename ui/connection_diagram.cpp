#include "ui/connection_diagram.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace qarn2::ui {
namespace {

constexpr int kWidth = 351;
constexpr int kHeight = 235;

// The connector of the PC: contacts 1..7 one below the other.
constexpr int kConnectorX = 70;        // left edge of the contact column
constexpr int kContactTop = 66;        // y of contact 1
constexpr int kContactPitch = 20;      // pixels between contacts
constexpr int kBoosterLeft = 270;      // left edge of the booster box

int ContactY(int contact) { return kContactTop + (contact - 1) * kContactPitch; }

// An arrow head at `tip`, pointing right (dx > 0) or left (dx < 0).
void ArrowHead(QPainter& p, QPoint tip, int dx) {
  const int back = dx > 0 ? -7 : 7;
  p.setBrush(Qt::black);
  p.drawPolygon(QPolygon({tip, tip + QPoint(back, -4), tip + QPoint(back, 4)}));
  p.setBrush(Qt::NoBrush);
}

// A diode in the line at `x`, conducting to the right: a triangle and a bar.
void Diode(QPainter& p, int x, int y) {
  p.setBrush(Qt::black);
  p.drawPolygon(QPolygon({QPoint(x, y - 6), QPoint(x, y + 6), QPoint(x + 10, y)}));
  p.setBrush(Qt::NoBrush);
  p.drawLine(x + 10, y - 6, x + 10, y + 6);
}

void DrawBoxes(QPainter& p) {
  // The PC with its connector.
  p.drawRect(10, 50, 48, 152);
  p.drawText(QRect(10, 50, 48, 152), Qt::AlignCenter, "PC");
  p.drawRect(kConnectorX - 12, ContactY(1) - 10, 24, 6 * kContactPitch + 20);
  QFont small = p.font();
  small.setPixelSize(9);
  p.setFont(small);
  for (int contact = 1; contact <= 7; ++contact) {
    const int y = ContactY(contact);
    p.drawEllipse(QPoint(kConnectorX + 4, y), 2, 2);
    p.drawText(QRect(kConnectorX - 11, y - 6, 10, 12), Qt::AlignCenter, QString::number(contact));
  }
  // The booster.
  QFont normal = p.font();
  normal.setPixelSize(11);
  p.setFont(normal);
  p.drawRect(kBoosterLeft, 70, 70, 90);
  p.drawText(QRect(kBoosterLeft, 70, 70, 90), Qt::AlignCenter, "Booster");
}

void DrawLines(QPainter& p) {
  const int start = kConnectorX + 6;
  // Contact 3: the DCC signal through the diode.
  const int signal_y = ContactY(3);
  const int diode_x = 190;
  p.drawLine(start, signal_y, diode_x, signal_y);
  Diode(p, diode_x, signal_y);
  p.drawLine(diode_x + 10, signal_y, kBoosterLeft, signal_y);
  p.drawText(start + 14, signal_y - 4, "Signal");
  QFont note = p.font();
  note.setPixelSize(9);
  p.setFont(note);
  p.drawText(QRect(120, signal_y - 44, 150, 28), Qt::AlignCenter | Qt::TextWordWrap,
             "Die Diode kann bei einigen Boostern entfallen");
  QFont normal = p.font();
  normal.setPixelSize(11);
  p.setFont(normal);

  // Contact 5: ground, straight across.
  const int ground_y = ContactY(5);
  p.drawLine(start, ground_y, kBoosterLeft, ground_y);
  p.drawText(start + 14, ground_y - 4, "Masse");

  // Contact 4: DTR switches the relay; contact 7: RI takes the acknowledge.
  QPen dashed = p.pen();
  dashed.setStyle(Qt::DashLine);
  const int dtr_y = ContactY(4);
  const int ri_y = ContactY(7);
  p.setPen(dashed);
  p.drawLine(start, dtr_y, 210, dtr_y);
  p.drawLine(start, ri_y, 210, ri_y);
  p.setPen(QPen(Qt::black));
  ArrowHead(p, QPoint(217, dtr_y), 1);
  p.drawLine(210, dtr_y, 217, dtr_y);
  p.drawText(start + 14, dtr_y - 4, "DTR");
  p.drawText(222, dtr_y + 4, "Relais");
  ArrowHead(p, QPoint(start + 2, ri_y), -1);
  p.drawText(start + 14, ri_y - 4, "RI");
  p.drawText(214, ri_y + 4, "R\u00fcckmeldung");
  p.drawText(214, ri_y + 18, "(optional)");
}

// A blank picture with its title, ready for the drawing.
void StartPicture(QPainter& p, QPixmap& picture, const char* caption) {
  picture.fill(Qt::white);
  p.begin(&picture);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(Qt::black));
  QFont title;
  title.setFamily("Sans Serif");
  title.setStyleHint(QFont::SansSerif);
  title.setPixelSize(14);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(0, 6, kWidth, 22), Qt::AlignCenter, QString::fromUtf8(caption));
  QFont normal = title;
  normal.setBold(false);
  normal.setPixelSize(11);
  p.setFont(normal);
}

}  // namespace

QPixmap DrawStationDiagram() {
  QPixmap picture(kWidth, kHeight);
  QPainter p;
  StartPicture(p, picture, "DCC-EX- Anschluss");
  // The PC, the station and the decoder on the programming track, left to right.
  p.drawRect(10, 70, 60, 90);
  p.drawText(QRect(10, 70, 60, 90), Qt::AlignCenter, "PC");
  p.drawRect(125, 60, 100, 110);
  p.drawText(QRect(125, 60, 100, 50), Qt::AlignCenter, "DCC-EX-\nZentrale");
  p.drawRect(280, 95, 60, 40);
  p.drawText(QRect(280, 95, 60, 40), Qt::AlignCenter, "Decoder");
  // The USB cable: data both ways.
  const int usb_y = 100;
  p.drawLine(70, usb_y, 125, usb_y);
  ArrowHead(p, QPoint(125, usb_y), 1);
  ArrowHead(p, QPoint(70, usb_y), -1);
  p.drawText(QRect(70, usb_y - 30, 55, 28), Qt::AlignCenter, "USB");
  // The programming track output: two rails.
  p.drawText(QRect(125, 120, 100, 40), Qt::AlignCenter, "Programmier-\ngleis (PROG)");
  p.drawLine(225, 108, 280, 108);
  p.drawLine(225, 122, 280, 122);
  QFont note = p.font();
  note.setPixelSize(9);
  p.setFont(note);
  p.drawText(QRect(10, 180, kWidth - 20, 44), Qt::AlignCenter | Qt::TextWordWrap,
             QString::fromUtf8("115200 bit/s; die Zentrale erzeugt das Gleissignal und liest die "
                               "R\u00fcckmeldung selbst. Der Decoder steht allein auf dem "
                               "Programmiergleis, nicht auf dem Hauptgleis."));
  p.drawRect(0, 0, kWidth - 1, kHeight - 1);
  p.end();
  return picture;
}

QString StationDiagramInWords() {
  return QString::fromUtf8(
      "DCC-EX- Anschluss: der PC \u00fcber ein USB-Kabel an der DCC-EX-Zentrale (115200 bit/s); "
      "der Decoder allein auf dem Programmiergleis-Ausgang (PROG) der Zentrale, die das Gleissignal "
      "erzeugt und die R\u00fcckmeldung selbst liest. Ein Klick schlie\u00dft den Plan.");
}

QPixmap DrawConnectionDiagram() {
  QPixmap picture(kWidth, kHeight);
  QPainter p;
  StartPicture(p, picture, "Interface- Schaltung");
  DrawBoxes(p);
  DrawLines(p);
  p.drawRect(0, 0, kWidth - 1, kHeight - 1);
  p.end();
  return picture;
}

QString ConnectionDiagramInWords() {
  return QString::fromUtf8(
      "Interface- Schaltung zwischen dem seriellen Anschluss des PC (Kontakte 1 bis 7) und dem Booster: "
      "Kontakt 3, Signal, \u00fcber eine Diode zum Booster (die Diode kann bei einigen Boostern entfallen); "
      "Kontakt 5, Masse, direkt zum Booster; Kontakt 4, DTR, schaltet das Relais; "
      "Kontakt 7, RI, nimmt die R\u00fcckmeldung auf (optional). Ein Klick schlie\u00dft den Plan.");
}

}  // namespace qarn2::ui
