#pragma once

#include <string>

#include "sheet/print_layout.h"

class QPagedPaintDevice;

namespace qarn2::qtadapter {

// Paints the printout of a decoder sheet onto a paged device: a printer for the
// window's "Decoderdatei drucken", a PDF writer for the command-line tool.
//
// One unit of the layout is 0.1 mm, worked out from the device's resolution; the
// origin is the painter's, which a printer puts at the top left corner of its
// printable area. The font is "Courier New" (or the fixed-pitch font the system has
// in its place), sized so that its character cell (ascent and descent) is 40 units
// high; each text's cell begins at its y, black on white. Texts are Windows-1252.
// Page k of the layout is the device's page k: the device's current page first, then
// a new page for each further one.
//
// Needs a QGuiApplication. Returns false with `error` set (ASCII text) when the
// device cannot be painted on, for example a printer that is not ready; a job
// already started is ended there.
bool PaintPrintLayout(QPagedPaintDevice& device, const sheet::PrintLayout& layout,
                      std::string& error);

}  // namespace qarn2::qtadapter
