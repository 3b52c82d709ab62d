#include "qtadapter/sheet_painter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "sheet/code_page.h"

namespace qarn2::qtadapter {
namespace {

// Device pixels per 0.1 mm at `dpi` dots per inch (254 tenths of a millimetre).
double PixelsPerUnit(int dpi) { return dpi / 254.0; }

// The printout's font on `device`. Qt sizes a font by its em, the cell is taller by
// the font's internal leading; the em is chosen so that the cell is the layout's.
QFont CellFont(QPaintDevice& device) {
  // Where the system lacks the font, one made to its measure (same widths, same
  // heights), else any fixed-pitch font.
  QFont font;
  font.setFamilies({QString::fromLatin1(sheet::kPrintFont), QStringLiteral("Liberation Mono"),
                    QStringLiteral("Cousine"), QStringLiteral("Nimbus Mono PS"),
                    QStringLiteral("Courier")});
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(sheet::kPrintCellHeight);
  const double cell = QFontMetricsF(font, &device).height();
  if (cell > 0) {
    const double em = sheet::kPrintCellHeight * sheet::kPrintCellHeight / cell;
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(em))));
  }
  return font;
}

}  // namespace

bool PaintPrintLayout(QPagedPaintDevice& device, const sheet::PrintLayout& layout,
                      std::string& error) {
  QPainter painter;
  if (!painter.begin(&device)) {
    error = "Der Druckauftrag kann nicht beginnen: der Drucker ist nicht bereit";
    return false;
  }
  painter.scale(PixelsPerUnit(device.logicalDpiX()), PixelsPerUnit(device.logicalDpiY()));
  const QFont font = CellFont(device);
  painter.setFont(font);
  const double ascent = QFontMetricsF(font, &device).ascent();
  painter.setPen(Qt::black);
  painter.setBackground(Qt::white);
  painter.setBackgroundMode(Qt::OpaqueMode);

  int page = 0;  // the device's current page
  const auto turn_to = [&](int wanted) {
    for (; page < wanted; ++page) {
      if (!device.newPage()) return false;
    }
    return true;
  };
  bool paged = true;
  for (const sheet::PrintedText& text : layout.texts) {
    paged = turn_to(text.page);
    if (!paged) break;
    const std::string utf8 = text.utf8 ? text.text : sheet::Cp1252ToUtf8(text.text);
    painter.drawText(QPointF(text.x, text.y + ascent),
                     QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
  }
  if (!paged || !turn_to(layout.pages - 1)) {
    painter.end();
    error = "Der Drucker nimmt keine weitere Seite an";
    return false;
  }
  if (!painter.end()) {
    error = "Der Druckauftrag kann nicht abgeschlossen werden";
    return false;
  }
  return true;
}

}  // namespace qarn2::qtadapter
